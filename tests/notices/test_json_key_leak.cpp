// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Whether QJsonDocument::fromJson of the Qt at hand loses memory on a key
// repeated over an array or an object, and whether the daemon's parsers of peer
// text do. The first tells if kJsonKeyGuard has to be on for this Qt; the
// second, run in a build with -DORVANE_JSON_KEY_GUARD=OFF, shows what the guard
// saves.
#include "notices/notice_values.h"
#include "notices/payload_readers.h"
#include "peerjson/peer_json.h"
#include "session/session_facts.h"

#include <QJsonDocument>
#include <QtTest>

#include <functional>

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_ASAN 1
#endif
#endif

#ifdef ORVANE_ASAN
#include <sanitizer/lsan_interface.h>
// GCC ships no allocator_interface.h; both runtimes export this.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

constexpr int kRounds = 2000;
// A lost container costs far more than this; allocator noise far less.
constexpr double kLostPerTextLimit = 16;

size_t heapInUse()
{
#ifdef ORVANE_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

double bytesLostPerText(const std::function<void()> &parse)
{
    for (int i = 0; i < 100; ++i)
        parse();
    const size_t before = heapInUse();
    for (int i = 0; i < kRounds; ++i)
        parse();
    const size_t after = heapInUse();
    return after > before ? double(after - before) / kRounds : 0;
}

} // namespace

class JsonKeyLeakTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void qtFromJson_data();
    void qtFromJson();
    void peerParsers_data();
    void peerParsers();
};

void JsonKeyLeakTest::qtFromJson_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("repeatsContainer");

    QTest::newRow("repeated over an array") << QByteArray(R"({"a":[1,2,3],"a":1})") << true;
    QTest::newRow("repeated over an object") << QByteArray(R"({"a":{"x":1},"a":1})") << true;
    QTest::newRow("repeated in a nested object") << QByteArray(R"({"o":{"a":[1],"a":2}})") << true;
    QTest::newRow("repeated over plain values") << QByteArray(R"({"a":1,"a":"x","a":[1]})") << false;
}

void JsonKeyLeakTest::qtFromJson()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, repeatsContainer);

#ifdef ORVANE_ASAN
    // What Qt itself loses here is measured, not reported.
    __lsan_disable();
#endif
    const double lost = bytesLostPerText([&text] { QJsonDocument::fromJson(text); });
#ifdef ORVANE_ASAN
    __lsan_enable();
#endif
    const bool leaks = lost > kLostPerTextLimit;
    qInfo("Qt %s: QJsonDocument::fromJson loses %.1f bytes per text; leaks: %s; guard: %s", qVersion(), lost,
          leaks ? "yes" : "no", kJsonKeyGuard ? "on" : "off");
    if (!repeatsContainer)
        QVERIFY2(!leaks, "a key repeated over plain values is not guarded");
    else if (leaks)
        QVERIFY2(kJsonKeyGuard, "this Qt leaks on peer text: the guard must be on for it (ORVANE_JSON_KEY_GUARD)");
}

void JsonKeyLeakTest::peerParsers_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<QString>("text");

    QTest::newRow("system notice") << "notice"
                                   << R"({"opt":1,"logname":"alice","logname":["x"],"logname":"alice"})";
    QTest::newRow("system notice, nested") << "notice"
                                           << R"({"opt":1,"logname":"alice","x":{"a":{"b":1},"a":1}})";
    QTest::newRow("upgrade element") << "upgrade"
                                     << R"({"package_name":"foo","name":["A"],"name":"Foo"})";
    QTest::newRow("brief info") << "brief"
                                << R"({"appBriefInfo":[1],"appBriefInfo":{"package_name":"foo","package_mode":1}})";
    QTest::newRow("current user") << "user"
                                  << R"({"Name":"alice","Uid":[0],"Uid":1000})";
}

void JsonKeyLeakTest::peerParsers()
{
    QFETCH(QString, parser);
    QFETCH(QString, text);

    std::function<void()> parse;
    if (parser == QLatin1String("notice"))
        parse = [&text] { QVERIFY(systemNoticeFor(text, QStringLiteral("alice"))); };
    else if (parser == QLatin1String("upgrade"))
        parse = [&text] { QCOMPARE(upgradeNoticeNames({text}, false, {}), QStringList{"Foo"}); };
    else if (parser == QLatin1String("brief"))
        parse = [&text] { QVERIFY(!parseAppBriefInfo(text).parseFailed); };
    else
        parse = [&text] { QCOMPARE(parseCurrentUser(text.toUtf8()).uid.value_or(0), 1000u); };

    const double lost = bytesLostPerText(parse);
    qInfo("guard %s: %.1f bytes lost per text", kJsonKeyGuard ? "on" : "off", lost);
    QVERIFY2(lost <= kLostPerTextLimit, qPrintable(QStringLiteral("%1 bytes lost per text").arg(lost)));
}

QTEST_GUILESS_MAIN(JsonKeyLeakTest)
#include "test_json_key_leak.moc"
