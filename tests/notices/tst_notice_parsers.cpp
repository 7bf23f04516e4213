// The parsers behind the notices: what each makes of the system daemon's and
// the installer's text, well-formed or not, and the update notice's body.
#include "dbus/payload_parsers.h"

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
};

void NoticeParsersTest::systemNotification_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<int>("opt");
    QTest::addColumn<QString>("appName");
    QTest::addColumn<QString>("packageName");
    QTest::addColumn<QString>("logname");

    QTest::newRow("empty") << "" << false << 0 << "" << "" << "";
    QTest::newRow("spaces") << "   " << false << 0 << "" << "" << "";
    QTest::newRow("not json") << "opt=1" << false << 0 << "" << "" << "";
    QTest::newRow("truncated") << R"({"opt": 1, "appName": "Foo")" << false << 0 << "" << "" << "";
    QTest::newRow("trailing text") << R"({"opt": 1} x)" << false << 0 << "" << "" << "";
    QTest::newRow("array") << R"([{"opt": 1}])" << false << 0 << "" << "" << "";
    QTest::newRow("string") << R"("{\"opt\": 1}")" << false << 0 << "" << "" << "";
    QTest::newRow("number") << "1" << false << 0 << "" << "" << "";
    QTest::newRow("null") << "null" << false << 0 << "" << "" << "";
    QTest::newRow("empty object") << "{}" << true << 0 << "" << "" << "";
    QTest::newRow("all keys") << R"({"opt": 5, "appName": "Foo", "packageName": "foo", "logname": "alice", "x": 1})"
                              << true << 5 << "Foo" << "foo" << "alice";
    QTest::newRow("missing keys keep initial values") << R"({"appName": "Foo"})" << true << 0 << "Foo" << "" << "";
    QTest::newRow("opt as text") << R"({"opt": "3"})" << true << 0 << "" << "" << "";
    QTest::newRow("opt as boolean") << R"({"opt": true})" << true << 0 << "" << "" << "";
    QTest::newRow("opt negative") << R"({"opt": -1})" << true << -1 << "" << "" << "";
    QTest::newRow("names not strings") << R"({"opt": 1, "appName": 7, "packageName": null, "logname": ["a"]})"
                                       << true << 1 << "" << "" << "";
    QTest::newRow("unicode names") << R"({"opt": 1, "appName": "Grüße \u4e2d", "logname": "jürgen"})"
                                   << true << 1 << QString::fromUtf8("Grüße 中") << "" << QString::fromUtf8("jürgen");
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
    QTest::newRow("empty") << "" << "" << -1 << false << "";
    QTest::newRow("spaces only") << "    " << "" << -1 << false << "";
    QTest::newRow("white space") << " \t\n " << "" << -1 << false << "";
    QTest::newRow("array") << R"([{"appBriefInfo": {}}])" << "" << -1 << true << noError;
    const QString truncated = QStringLiteral(R"({"appBriefInfo": {"package_name": "foo")");
    QJsonParseError syntax;
    QJsonDocument::fromJson(truncated.toUtf8(), &syntax);
    QVERIFY(syntax.error != QJsonParseError::NoError);
    QTest::newRow("truncated") << truncated << "" << -1 << true << syntax.errorString();
    QTest::newRow("empty object") << "{}" << "" << -1 << false << "";
    QTest::newRow("brief not an object") << R"({"appBriefInfo": "foo"})" << "" << -1 << false << "";
    QTest::newRow("no name")
        << R"({"appBriefInfo": {"package_mode": 1, "pkgInstallMode": 1}})" << "" << -1 << false << "";
    QTest::newRow("empty name")
        << R"({"appBriefInfo": {"package_name": "", "package_mode": 1, "pkgInstallMode": 1}})" << "" << -1 << false
        << "";
    QTest::newRow("no package mode")
        << R"({"appBriefInfo": {"package_name": "foo", "pkgInstallMode": 1}})" << "" << -1 << false << "";
    QTest::newRow("package mode 0")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 0, "pkgInstallMode": 1}})" << "" << -1
        << false << "";
    QTest::newRow("package mode as text")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": "1", "pkgInstallMode": 1}})" << "" << -1
        << false << "";
    QTest::newRow("no install mode")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1}})" << "" << -1 << false << "";
    QTest::newRow("install mode 0")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 0}})" << "" << -1
        << false << "";
    QTest::newRow("install mode 2")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 2}})" << "" << -1
        << false << "";
    QTest::newRow("both modes 1")
        << R"({"appBriefInfo": {"package_name": "foo", "package_mode": 1, "pkgInstallMode": 1}, "progress": 100})"
        << "foo" << 1 << false << "";
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
                              << "foo" << "Foo" << 1;
    QTest::newRow("no wayland key") << R"({"package_name": "foo", "name": "Foo"})" << "foo" << "Foo" << 0;
    QTest::newRow("wayland as text") << R"({"supportWayland": "1"})" << "" << "" << 0;
    QTest::newRow("wayland as boolean") << R"({"supportWayland": true})" << "" << "" << 0;
    QTest::newRow("wayland 2") << R"({"supportWayland": 2})" << "" << "" << 2;
    QTest::newRow("names not strings") << R"({"package_name": 1, "name": null})" << "" << "" << 0;
    QTest::newRow("array") << R"([{"package_name": "foo", "name": "Foo"}])" << "" << "" << 0;
    QTest::newRow("not json") << "foo" << "" << "" << 0;
    QTest::newRow("empty") << "" << "" << "" << 0;
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

    QTest::newRow("plain") << "Foo 2" << "Foo 2";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("tags") << "<b>x</b>" << "&lt;b&gt;x&lt;/b&gt;";
    QTest::newRow("ampersand") << "Salt & Pepper" << "Salt &amp; Pepper";
    // An entity in a name is text too: shown as written, not decoded.
    QTest::newRow("entity") << "&lt;" << "&amp;lt;";
    QTest::newRow("link") << "<a href=\"x\">L</a>" << "&lt;a href=\"x\"&gt;L&lt;/a&gt;";
    QTest::newRow("quotes stay") << "'\"" << "'\"";
}

void NoticeParsersTest::bodyMarkup()
{
    QFETCH(QString, text);
    QTEST(escapeBodyMarkup(text), "escaped");
}

QTEST_GUILESS_MAIN(NoticeParsersTest)
#include "tst_notice_parsers.moc"
