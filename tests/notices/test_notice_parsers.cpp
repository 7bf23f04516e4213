// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The parsers behind the notices: what each makes of the system daemon's and
// the installer's text, well-formed or not, and the update notice's body.
#include "notices/notice_texts.h"
#include "notices/payload_readers.h"
#include "peerjson/peer_json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

class NoticeParsersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void systemNotification_data();
    void systemNotification();
    void appBriefInfo_data();
    void appBriefInfo();
    void safePackageName_data();
    void safePackageName();
    void upgradeAppInfo_data();
    void upgradeAppInfo();
    void upgradeNoticeBody_data();
    void upgradeNoticeBody();
    void bodyMarkup_data();
    void bodyMarkup();
    void duplicateContainerKey_data();
    void duplicateContainerKey();
    void peerJsonResult_data();
    void peerJsonResult();
};

void NoticeParsersTest::systemNotification_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<int>("opt");
    QTest::addColumn<QString>("appName");
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QString>("logname");

    QTest::newRow("empty") << "" << false << 0 << ""
                           << ""
                           << "";
    QTest::newRow("spaces") << "   " << false << 0 << ""
                            << ""
                            << "";
    QTest::newRow("not json") << "opt=1" << false << 0 << ""
                              << ""
                              << "";
    QTest::newRow("truncated") << R"({"opt": 1, "appName": "Foo")" << false << 0 << ""
                               << ""
                               << "";
    QTest::newRow("trailing text") << R"({"opt": 1} x)" << false << 0 << ""
                                   << ""
                                   << "";
    QTest::newRow("array") << R"([{"opt": 1}])" << false << 0 << ""
                           << ""
                           << "";
    QTest::newRow("string") << R"("{\"opt\": 1}")" << false << 0 << ""
                            << ""
                            << "";
    QTest::newRow("number") << "1" << false << 0 << ""
                            << ""
                            << "";
    QTest::newRow("null") << "null" << false << 0 << ""
                          << ""
                          << "";
    QTest::newRow("empty object") << "{}" << true << 0 << ""
                                  << ""
                                  << "";
    QTest::newRow("all keys") << R"({"opt": 5, "appName": "Foo", "packageName": "foo", "logname": "alice", "x": 1})"
                              << true << 5 << "Foo"
                              << "foo"
                              << "alice";
    QTest::newRow("missing keys keep initial values") << R"({"appName": "Foo"})" << true << 0 << "Foo"
                                                      << ""
                                                      << "";
    QTest::newRow("opt as text") << R"({"opt": "3"})" << true << 0 << ""
                                 << ""
                                 << "";
    QTest::newRow("opt as boolean") << R"({"opt": true})" << true << 0 << ""
                                    << ""
                                    << "";
    QTest::newRow("opt negative") << R"({"opt": -1})" << true << -1 << ""
                                  << ""
                                  << "";
    QTest::newRow("names not strings") << R"({"opt": 1, "appName": 7, "packageName": null, "logname": ["a"]})" << true
                                       << 1 << ""
                                       << ""
                                       << "";
    QTest::newRow("unicode names") << R"({"opt": 1, "appName": "Grüße \u4e2d", "logname": "jürgen"})" << true << 1
                                   << QString::fromUtf8("Grüße 中") << "" << QString::fromUtf8("jürgen");
    // A key repeated over an array or an object reads as Qt reads it, with
    // its last value, although that is the case fromJson may leak on.
    QTest::newRow("key repeated over an array")
        << R"({"optameme":null,"logname":["alice"],"":7,"packageName":null,"logname":["alice"],"opt":1.5e308})" << true
        << 0 << ""
        << ""
        << "";
    QTest::newRow("key repeated over an object") << R"({"opt":{"x":1},"opt":1,"logname":"alice"})" << true << 1 << ""
                                                 << ""
                                                 << "alice";
    QTest::newRow("key repeated, escaped") << R"({"logname":["x"],"log\u006eame":"alice","opt":1})" << true << 1 << ""
                                           << ""
                                           << "alice";
    QTest::newRow("key repeated in a nested object")
        << R"({"opt":1,"logname":"alice","x":{"a":[1],"a":2}})" << true << 1 << ""
        << ""
        << "alice";
    QTest::newRow("repeated object holding a repeated key")
        << R"({"x":{"a":[1],"a":2},"opt":{"b":{},"b":[]},"x":3,"opt":7,"logname":"alice"})" << true << 7 << ""
        << ""
        << "alice";
    QTest::newRow("key like a renamed one")
        << R"({"\u0000\u00000.opt":[1],"opt":[2],"opt":5,"logname":"alice"})" << true << 5 << ""
        << ""
        << "alice";
    QTest::newRow("key repeated, then truncated") << R"({"x":{"a":[1],"a":1},"opt":1)" << false << 0 << ""
                                                  << ""
                                                  << "";
    QTest::newRow("key repeated over plain values, last kept")
        << R"({"opt":1,"opt":2,"logname":"bob","logname":"alice"})" << true << 2 << ""
        << ""
        << "alice";
    QTest::newRow("array after a plain value") << R"({"opt":3,"logname":"bob","logname":["alice"]})" << true << 3 << ""
                                               << ""
                                               << "";
    QTest::newRow("same key in other objects")
        << R"({"opt":3,"x":{"opt":[1]},"y":{"opt":[2]},"appName":"Foo","z":[{"opt":{}}]})" << true << 3 << "Foo"
        << ""
        << "";
    QTest::newRow("keys inside a string")
        << R"({"appName":"\"opt\":[1],\"opt\":1","opt":4})" << true << 4 << R"("opt":[1],"opt":1)"
        << ""
        << "";
}

void NoticeParsersTest::systemNotification()
{
    QFETCH(QString, text);
    QFETCH(bool, parsed);

    const std::optional<_System_Notification_Data> data = parseSystemNotification(text);
    QCOMPARE(data.has_value(), parsed);
    if (!data)
        return;
    QTEST(data->opt, "opt");
    QTEST(data->appName, "appName");
    QTEST(data->packageName, "packageName");
    QTEST(data->logname, "logname");
}

void NoticeParsersTest::appBriefInfo_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("parseFailed");
    QTest::addColumn<QString>("parseError");

    const QString noError = QStringLiteral("no error occurred");
    QTest::newRow("empty") << ""
                           << "" << -1 << false << "";
    QTest::newRow("spaces only") << "    "
                                 << "" << -1 << false << "";
    QTest::newRow("white space") << " \t\n "
                                 << "" << -1 << false << "";
    QTest::newRow("array") << R"([{"appBriefInfo": {}}])"
                           << "" << -1 << true << noError;
    const QString truncated = QStringLiteral(R"({"appBriefInfo": {"package_name": "foo")");
    QJsonParseError syntax;
    QJsonDocument::fromJson(truncated.toUtf8(), &syntax);
    QVERIFY(syntax.error != QJsonParseError::NoError);
    QTest::newRow("truncated") << truncated << "" << -1 << true << syntax.errorString();
    QTest::newRow("empty object") << "{}"
                                  << "" << -1 << false << "";
    QTest::newRow("brief not an object") << R"({"appBriefInfo": "foo"})"
                                         << "" << -1 << false << "";
    QTest::newRow("no name") << R"({"appBriefInfo": {"package_mode": 1, "pkgInstallMode": 1}})"
                             << "" << -1 << false << "";
    QTest::newRow("empty name") << R"({"appBriefInfo": {"package_name": "", "package_mode": 1, "pkgInstallMode": 1}})"
                                << "" << -1 << false << "";
    QTest::newRow("no package mode") << R"({"appBriefInfo": {"package_name": "foo", "pkgInstallMode": 1}})"
                                     << "" << -1 << false << "";
    QTest::newRow("package mode 0")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 0, "pkgInstallMode": 1}})"
        << "" << -1 << false << "";
    QTest::newRow("package mode as text")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": "1", "pkgInstallMode": 1}})"
        << "" << -1 << false << "";
    QTest::newRow("no install mode") << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1}})"
                                     << "" << -1 << false << "";
    QTest::newRow("install mode 0")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 0}})"
        << "" << -1 << false << "";
    QTest::newRow("install mode 2")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 2}})"
        << "" << -1 << false << "";
    QTest::newRow("both modes 1")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 1}, "progress": 100})"
        << "foo" << 1 << false << "";
    QTest::newRow("brief repeated")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 1}, "appBriefInfo": 1})"
        << "" << -1 << false << "";
    QTest::newRow("brief repeated, escaped")
        << R"({"appBriefInfo": [], "app\u0042riefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 1}})"
        << "foo" << 1 << false << "";
    QTest::newRow("name repeated inside the brief")
        << R"({"appBriefInfo": {"package_name": ["x"], "package_name": "foo", "package_mode": 1, "pkgInstallMode": 1}})"
        << "foo" << 1 << false << "";
    QTest::newRow("brief repeated, then truncated")
        << R"({"appBriefInfo": {"package_name": "foo"}, "appBriefInfo": {"package_name": "foo")"
        << "" << -1 << true << "unterminated string";
    QTest::newRow("mode repeated, last kept")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 0, "package_mode": 1, "pkgInstallMode": 1}})"
        << "foo" << 1 << false << "";
    QTest::newRow("key inside a name")
        << R"({"appBriefInfo": {"package_name": "{\"a\":[1],\"a\":1}", "package_mode": 1, "pkgInstallMode": 1}})"
        << R"({"a":[1],"a":1})" << 1 << false << "";
    const QString brief = QStringLiteral(R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, )"
                                         R"("pkgInstallMode": 1}, "pad": ""})");
    QTest::newRow("at the bound") << QString(brief).insert(brief.size() - 2, QString(65536 - brief.size(), u'x'))
                                  << "foo" << 1 << false << "";
    QTest::newRow("past the bound") << QString(brief).insert(brief.size() - 2, QString(65537 - brief.size(), u'x'))
                                    << "" << -1 << true << "longer than 65536 bytes";
    QTest::newRow("both modes 1, padded")
        << "  {\"appBriefInfo\": {\"package_name\": \"foo\", \"package_mode\": 1.0, \"pkgInstallMode\": 1}}\n"
        << "foo" << 1 << false << "";
}

void NoticeParsersTest::appBriefInfo()
{
    QFETCH(QString, text);

    const AppBriefInfoResult result = parseAppBriefInfo(text);
    QTEST(result.nameAndMode.first, "name");
    QTEST(result.nameAndMode.second, "mode");
    QTEST(result.parseFailed, "parseFailed");
    QTEST(result.parseError, "parseError");
}

void NoticeParsersTest::safePackageName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("safe");

    QTest::newRow("plain") << "foo" << true;
    QTest::newRow("one letter") << "f" << true;
    QTest::newRow("digit first") << "0ad" << true;
    QTest::newRow("capitals") << "Foo" << true;
    QTest::newRow("all allowed marks") << "org.foo-bar_2+b" << true;
    QTest::newRow("255 characters") << QString(255, QLatin1Char('a')) << true;
    QTest::newRow("256 characters") << QString(256, QLatin1Char('a')) << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dash first") << "-c" << false;
    QTest::newRow("dot first") << ".foo" << false;
    QTest::newRow("dot dot") << ".." << false;
    QTest::newRow("underscore first") << "_foo" << false;
    QTest::newRow("plus first") << "+foo" << false;
    QTest::newRow("parent path") << "../../tmp/x" << false;
    QTest::newRow("slash") << "foo/bar" << false;
    QTest::newRow("space") << "a b" << false;
    QTest::newRow("shell command") << "x;touch /tmp/owned" << false;
    QTest::newRow("substitution") << "x$(id)" << false;
    QTest::newRow("backquote") << "x`id`" << false;
    QTest::newRow("ampersand") << "x&y" << false;
    QTest::newRow("quote") << "x'y" << false;
    QTest::newRow("newline") << "x\ny" << false;
    QTest::newRow("trailing space") << "foo " << false;
    QTest::newRow("nul") << QString::fromLatin1("foo\0bar", 7) << false;
    QTest::newRow("letter outside ASCII") << QString::fromUtf8("über") << false;
    QTest::newRow("fullwidth solidus") << QString::fromUtf8("a\uFF0Fb") << false;
}

void NoticeParsersTest::safePackageName()
{
    QFETCH(QString, name);
    QTEST(isSafePackageName(name), "safe");
}

void NoticeParsersTest::upgradeAppInfo_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("supportWayland");

    QTest::newRow("all keys") << R"({"package_name": "foo", "name": "Foo", "supportWayland": 1, "version": "2"})"
                              << "foo"
                              << "Foo" << 1;
    QTest::newRow("no wayland key") << R"({"package_name": "foo", "name": "Foo"})"
                                    << "foo"
                                    << "Foo" << 0;
    QTest::newRow("wayland as text") << R"({"supportWayland": "1"})"
                                     << ""
                                     << "" << 0;
    QTest::newRow("wayland as boolean") << R"({"supportWayland": true})"
                                        << ""
                                        << "" << 0;
    QTest::newRow("wayland 2") << R"({"supportWayland": 2})"
                               << ""
                               << "" << 2;
    QTest::newRow("names not strings") << R"({"package_name": 1, "name": null})"
                                       << ""
                                       << "" << 0;
    QTest::newRow("array") << R"([{"package_name": "foo", "name": "Foo"}])"
                           << ""
                           << "" << 0;
    QTest::newRow("not json") << "foo"
                              << ""
                              << "" << 0;
    QTest::newRow("empty") << ""
                           << ""
                           << "" << 0;
    QTest::newRow("name repeated over an object") << R"({"package_name": "foo", "name": {"x": 1}, "name": "Foo"})"
                                                  << "foo"
                                                  << "Foo" << 0;
    // Read as empty, an ignored app would be announced without a name.
    QTest::newRow("other key repeated over an array")
        << R"({"package_name": "ignored", "x": [1], "x": 2, "name": "Ignored"})"
        << "ignored"
        << "Ignored" << 0;
    QTest::newRow("name repeated, last kept") << R"({"package_name": "foo", "name": "A", "name": "Foo"})"
                                              << "foo"
                                              << "Foo" << 0;
}

void NoticeParsersTest::upgradeAppInfo()
{
    QFETCH(QString, text);

    const UpgradeAppInfo info = parseUpgradeAppInfo(text);
    QTEST(info.packageName, "packageName");
    QTEST(info.name, "name");
    QTEST(info.supportWayland, "supportWayland");
}

void NoticeParsersTest::upgradeNoticeBody_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("body");

    QTest::newRow("1") << QStringList{"A"} << "1 app: A";
    QTest::newRow("2") << QStringList{"A", "B"} << "2 apps: A, B";
    QTest::newRow("3") << QStringList{"A", "B", "C"} << "3 apps: A, B, C";
    QTest::newRow("4") << QStringList{"A", "B", "C", "D"} << "4 apps: A, B, C...";
    QTest::newRow("5") << QStringList{"A", "B", "C", "D", "E"} << "5 apps: A, B, C...";
    QTest::newRow("12") << QStringList{"A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L"}
                        << "12 apps: A, B, C...";
    QTest::newRow("unnamed apps") << QStringList{"", "B", ""} << "3 apps: , B, ";
}

void NoticeParsersTest::upgradeNoticeBody()
{
    QFETCH(QStringList, names);
    QTEST(::upgradeNoticeBody(names), "body");
}

void NoticeParsersTest::bodyMarkup_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");

    QTest::newRow("plain") << "Foo 2"
                           << "Foo 2";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("tags") << "<b>x</b>"
                          << "&lt;b&gt;x&lt;/b&gt;";
    QTest::newRow("ampersand") << "Salt & Pepper"
                               << "Salt &amp; Pepper";
    // An entity in a name is text too: shown as written, not decoded.
    QTest::newRow("entity") << "&lt;"
                            << "&amp;lt;";
    QTest::newRow("link") << "<a href=\"x\">L</a>"
                          << "&lt;a href=\"x\"&gt;L&lt;/a&gt;";
    QTest::newRow("quotes stay") << "'\""
                                 << "'\"";
}

void NoticeParsersTest::bodyMarkup()
{
    QFETCH(QString, text);
    QTEST(escapeBodyMarkup(text), "escaped");
}

void NoticeParsersTest::duplicateContainerKey_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("found");

    QTest::newRow("array, then number") << QByteArray(R"({"a":[1],"a":1})") << true;
    QTest::newRow("empty object, then number") << QByteArray(R"({"a":{},"a":1})") << true;
    QTest::newRow("object, then object") << QByteArray(R"({"a":{"b":1},"a":{"b":1}})") << true;
    QTest::newRow("apart") << QByteArray(R"({"a":[1],"b":1,"c":{"d":2},"a":"x"})") << true;
    QTest::newRow("three times") << QByteArray(R"({"a":1,"a":[1],"a":2})") << true;
    QTest::newRow("numbers") << QByteArray(R"({"a":1,"a":2})") << false;
    QTest::newRow("strings and null") << QByteArray(R"({"a":"x","a":null,"a":true})") << false;
    QTest::newRow("array last") << QByteArray(R"({"a":1,"a":[1]})") << true;
    QTest::newRow("spaced") << QByteArray(" { \"a\" :\n[ 1 ] ,\t\"a\" : 1 } ") << true;

    QTest::newRow("escaped letter") << QByteArray(R"({"a":[1],"\u0061":1})") << true;
    QTest::newRow("escaped slash") << QByteArray(R"({"\/":[1],"/":1})") << true;
    QTest::newRow("escaped quote") << QByteArray(R"({"\"":[1],"\u0022":1})") << true;
    QTest::newRow("escaped newline") << QByteArray(R"({"\n":[1],"\u000A":1})") << true;
    QTest::newRow("escaped backslash") << QByteArray(R"({"a\\":[1],"a\u005c":1})") << true;
    QTest::newRow("other escape as itself") << QByteArray(R"({"\x":[1],"x":1})") << true;
    QTest::newRow("UTF-8 and escape") << QByteArray("{\"\xc3\xa9\":[1],\"\\u00e9\":1}") << true;
    QTest::newRow("surrogate pair and UTF-8") << QByteArray("{\"\\uD83D\\ude00\":[1],\"\xf0\x9f\x98\x80\":1}") << true;
    QTest::newRow("raw newline and its escape") << QByteArray("{\"a\nb\":[1],\"a\\nb\":1}") << true;
    QTest::newRow("short escapes and their code points")
        << QByteArray(R"({"\b\f\n\r\t\"\\\/":[1],"\u0008\u000C\u000a\u000D\u0009\u0022\u005c/":1})") << true;
    QTest::newRow("hex digits in either case") << QByteArray(R"({"\u00E9":[1],"\u00e9":1})") << true;
    QTest::newRow("refused byte, escaped look-alike") << QByteArray("{\"\xff\":[1],\"\\udcff\":1}") << false;
    QTest::newRow("case differs") << QByteArray(R"({"a":[1],"A":1})") << false;
    QTest::newRow("prefix") << QByteArray(R"({"ab":[1],"a":1})") << false;
    QTest::newRow("trailing space") << QByteArray(R"({"a":[1],"a ":1})") << false;
    QTest::newRow("accent differs") << QByteArray("{\"\xc3\xa9\":[1],\"e\":1}") << false;
    QTest::newRow("backslash, not escape") << QByteArray(R"({"a\\":[1],"a":1})") << false;

    QTest::newRow("other objects") << QByteArray(R"({"x":{"a":[1]},"y":{"a":[1]},"a":[1]})") << false;
    QTest::newRow("objects in an array") << QByteArray(R"([{"a":[1]},{"a":1}])") << false;
    QTest::newRow("inner and outer") << QByteArray(R"({"a":{"a":[1]},"b":1})") << false;
    QTest::newRow("outer after inner") << QByteArray(R"({"a":[1],"x":{"y":[{}]},"a":1})") << true;
    QTest::newRow("in an array") << QByteArray(R"([1,{"a":[1],"a":1}])") << true;
    QTest::newRow("deep") << QByteArray(R"({"a":{"b":[{"c":[1],"c":1}]}})") << true;

    QTest::newRow("value equal to a key") << QByteArray(R"({"a":[1],"x":"a"})") << false;
    QTest::newRow("array elements") << QByteArray(R"(["a",[1],"a",1])") << false;
    QTest::newRow("keys inside a value") << QByteArray(R"({"s":"{\"a\":[1],\"a\":1}"})") << false;
    QTest::newRow("brace inside a key") << QByteArray(R"({"{":[1],"}":1,"[":2})") << false;

    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("not json") << QByteArray("a:[1],a:1") << false;
    QTest::newRow("truncated in a key") << QByteArray(R"({"a":[1],"a)") << false;
    QTest::newRow("truncated after a backslash") << QByteArray(R"({"a":[1],"a\)") << false;
    QTest::newRow("truncated escape") << QByteArray(R"({"\u00":[1],"\u00":1})") << true;
    QTest::newRow("truncated after an inner object") << QByteArray(R"({"x":{"a":[1],"a":1},)") << true;
    QTest::newRow("garbage after") << QByteArray(R"({"a":[1],"a":1} x)") << true;
    QTest::newRow("closed too often") << QByteArray(R"(]]}}{"a":[1],"a":1}]]}})") << true;
    QTest::newRow("not UTF-8, same bytes") << QByteArray("{\"\xff\":[1],\"\xff\":1}") << true;
    QTest::newRow("not UTF-8, other bytes") << QByteArray("{\"\xff\":[1],\"\xfe\":1}") << false;
    QTest::newRow("cut UTF-8") << QByteArray("{\"\xe2\x82\":[1],\"\xe2\":1}") << false;
    QTest::newRow("nested far too deep") << QByteArray(R"([{"a":[1],"a":1},)") + QByteArray(100000, '[') << true;
    QTest::newRow("deep, no key") << QByteArray(100000, '{') << false;

    QByteArray many("{");
    for (int i = 0; i < 100; ++i)
        many += "\"k" + QByteArray::number(i) + "\":[1],\"k" + QByteArray::number(i) + "\":1,";
    many += "\"end\":0}";
    QTest::newRow("a hundred repeats") << many << true;
    QByteArray distinct("{");
    for (int i = 0; i < 10000; ++i)
        distinct += "\"k" + QByteArray::number(i) + "\":[1],";
    distinct += "\"k\":0}";
    QTest::newRow("ten thousand keys") << distinct << false;
}

void NoticeParsersTest::duplicateContainerKey()
{
    QFETCH(QByteArray, text);
    QTEST(jsonHasDuplicateContainerKey(text), "found");
}

// What the guarded parse makes of a text: Qt's own result with the last value
// of a repeated key, whatever the text holds, at a cost that grows with the
// text alone. Texts that do not parse still fail.
void NoticeParsersTest::peerJsonResult_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("result"); // compact; empty when it does not parse

    QTest::newRow("last array kept") << QByteArray(R"({"a":[1],"a":[2]})") << QByteArray(R"({"a":[2]})");
    QTest::newRow("plain value after an array")
        << QByteArray(R"({"a":[1],"b":0,"a":3})") << QByteArray(R"({"a":3,"b":0})");
    QTest::newRow("escaped repeat") << QByteArray(R"({"a":{},"\u0061":[5]})") << QByteArray(R"({"a":[5]})");
    QTest::newRow("in arrays of objects")
        << QByteArray(R"([{"a":[],"a":1},2,{"b":{"c":[],"c":{}},"b":{}}])") << QByteArray(R"([{"a":1},2,{"b":{}}])");
    QTest::newRow("at every depth") << QByteArray(R"({"x":{"y":{"a":[],"a":1},"y":{"b":[],"b":2}},"c":[],"c":3})")
                                    << QByteArray(R"({"c":3,"x":{"y":{"b":2}}})");
    QByteArray large("{\"a\":[1],");
    QJsonObject largeResult{{"a", QJsonArray{2}}};
    for (int i = 0; i < 30; ++i) {
        large += "\"k" + QByteArray::number(i) + "\":" + QByteArray::number(i) + ",";
        largeResult.insert("k" + QString::number(i), i);
    }
    QTest::newRow("last kept in a large object")
        << large + "\"a\":[2]}" << QJsonDocument(largeResult).toJson(QJsonDocument::Compact);
    // A new name is a space and a number: keys of that form in the text keep
    // theirs, and the names that differ from it stay too.
    QTest::newRow("keys like new names") << QByteArray(R"({" 0":1," 1":[2],"a":[],"a":{}," 00":5," 2 ":6," ":7})")
                                         << QByteArray(R"({" ":7," 0":1," 00":5," 1":[2]," 2 ":6,"a":{}})");
    QTest::newRow("escaped like a new name")
        << QByteArray(R"({"\u00200":1,"a":[],"a":2})") << QByteArray(R"({" 0":1,"a":2})");
    QTest::newRow("keys sorted before a space")
        << QByteArray(R"({"\u0001":1,"\u0000":[],"a":[],"a":1})") << QByteArray(R"({"\u0000":[],"\u0001":1,"a":1})");
    QTest::newRow("keys sorted after ASCII")
        << QByteArray("{\"\xc3\xa9\":[1],\"z\":1,\"\xc3\xa9\":2}") << QByteArray("{\"z\":1,\"\xc3\xa9\":2}");
    // A refused byte never equals a character fromJson accepts: the first key
    // is not renamed away, and the text fails as fromJson fails it.
    QTest::newRow("broken key, accepted look-alike") << QByteArray("{\"\xff\":[1],\"\\udcff\":1}") << QByteArray();
    QTest::newRow("repeat, then broken") << QByteArray(R"({"a":[1],"a":2,)") << QByteArray();
    QTest::newRow("not an object") << QByteArray(R"(["a",[],"a"])") << QByteArray(R"(["a",[],"a"])");
    QTest::newRow("cut inside a cut") << QByteArray(R"({"a":{"b":[],"b":1},"a":2})") << QByteArray(R"({"a":2})");
    // What is cut must parse as it would have in place.
    QTest::newRow("overlong look-alike, cut") << QByteArray("{\"\xc1\x81\":[1],\"A\":2}") << QByteArray();
    QTest::newRow("overlong look-alike, kept") << QByteArray("{\"A\":[1],\"\xc1\x81\":2}") << QByteArray();
    QTest::newRow("no separator in a cut member") << QByteArray(R"({"a" [1],"a":2})") << QByteArray();
    QTest::newRow("two separators in a cut member") << QByteArray(R"({"a"::[1],"a":2})") << QByteArray();
    QTest::newRow("fault inside a cut value") << QByteArray(R"({"a":[1 2],"a":3})") << QByteArray();
    QTest::newRow("garbage after a cut value") << QByteArray(R"({"a":[1] x,"a":3})") << QByteArray();
    QTest::newRow("fault cut from a cut value") << QByteArray(R"({"a":{"b":[1,],"b":1},"a":2})") << QByteArray();
    QTest::newRow("empty cut value") << QByteArray(R"({"a":,"a":[]})") << QByteArray();
    const QByteArray nested = QByteArray(1023, '[') + QByteArray(1023, ']');
    QTest::newRow("as deep as fromJson goes") << QByteArray(R"({"a":[],"a":)") + nested
            + "}" << QJsonDocument::fromJson("{\"a\":" + nested + "}").toJson(QJsonDocument::Compact);
    QTest::newRow("deeper than fromJson goes") << QByteArray(R"({"a":[],"a":[)") + nested + "]}" << QByteArray();

    // The two shapes that made the renaming grow with the text: a long key of
    // U+0000 once, then many repeats; and repeats alone, each once erased.
    const QByteArray nulKey = QByteArrayLiteral("\\u0000").repeated(20000);
    QByteArray nulShape = "{\"" + nulKey + "\":1,";
    for (int i = 0; i < 20000; ++i)
        nulShape += "\"a\":[],";
    QTest::newRow("long U+0000 key, 20000 repeats") << nulShape + R"("logname":"root","opt":1})"
                                                    << "{\"" + nulKey + R"(":1,"a":[],"logname":"root","opt":1})";
    QByteArray repeats("{");
    for (int i = 0; i < 200000; ++i)
        repeats += "\"a\":[],";
    QTest::newRow("200000 repeats") << repeats + R"("opt":1,"a":{}})" << QByteArray(R"({"a":{},"opt":1})");
}

void NoticeParsersTest::peerJsonResult()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, result);

    const QJsonDocument document = peerJson(text);
    QCOMPARE(document.isNull(), result.isEmpty());
    if (!result.isEmpty())
        QCOMPARE(document.toJson(QJsonDocument::Compact), result);
}

QTEST_GUILESS_MAIN(NoticeParsersTest)
#include "test_notice_parsers.moc"
