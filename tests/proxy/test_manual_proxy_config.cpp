// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// One protocol's manual proxy settings as read from the store, at construction
// and while the user edits them.
#include "proxy/manual_proxy_config.h"
#include "proxy_test_support.h"

#include <QNetworkProxy>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(ManualProxyType)

namespace {
struct Expected
{
    bool valid;
    QNetworkProxy proxy;
};
} // namespace

class ManualProxyConfigTest : public QObject
{
    Q_OBJECT

public:
    // Read once per process by GLib, so it must be set before any settings object.
    static void initMain() { qputenv("GSETTINGS_SCHEMA_DIR", PROXY_RELAXED_SCHEMA_DIR); }

private Q_SLOTS:
    void initTestCase();
    void init();

    void readsStoredSettings_data();
    void readsStoredSettings();
    void followsEdits_data();
    void followsEdits();
    void reenablingAuthenticationRestoresCredentials();
    void emissions_data();
    void emissions();

private:
    void addSettingsRows();

    ProxySettingsStore *m_store = nullptr;
};

void ManualProxyConfigTest::initTestCase()
{
    qRegisterMetaType<ManualProxyType>();
    m_store = new ProxySettingsStore(this);
}

void ManualProxyConfigTest::init()
{
    m_store->resetAll();
    settleSettings();
}

void ManualProxyConfigTest::addSettingsRows()
{
    QTest::addColumn<ManualProxyType>("type");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user"); // null: authentication off
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("proxyType"); // QNetworkProxy::ProxyType when valid

    const QString off;
    QTest::newRow("http") << HTTP << "proxy.example" << 3128 << off << off << true << int(QNetworkProxy::HttpProxy);
    QTest::newRow("https") << HTTPS << "proxy.example" << 3129 << off << off << true << int(QNetworkProxy::HttpProxy);
    QTest::newRow("ftp") << FTP << "proxy.example" << 2121 << off << off << true << int(QNetworkProxy::FtpCachingProxy);
    QTest::newRow("socks") << SOCKS << "socks.example" << 1080 << off << off << true << int(QNetworkProxy::Socks5Proxy);
    QTest::newRow("host, no port") << HTTP << "proxy.example" << 0 << off << off << false << 0;
    QTest::newRow("port, no host") << HTTP << "" << 3128 << off << off << false << 0;
    QTest::newRow("highest port") << HTTP << "proxy.example" << 65535 << off << off << true
                                  << int(QNetworkProxy::HttpProxy);
    QTest::newRow("port 65536") << HTTP << "proxy.example" << 65536 << off << off << false << 0;
    QTest::newRow("port 65537, not port 1") << HTTP << "proxy.example" << 65537 << off << off << false << 0;
    QTest::newRow("negative port, not 65535") << HTTP << "proxy.example" << -1 << off << off << false << 0;
    QTest::newRow("authentication") << SOCKS << "socks.example" << 1080 << "alice"
                                    << "s3cret" << true << int(QNetworkProxy::Socks5Proxy);
    QTest::newRow("authentication, no password") << HTTP << "proxy.example" << 3128 << "alice"
                                                 << "" << false << 0;
    QTest::newRow("authentication, no user") << HTTP << "proxy.example" << 3128 << ""
                                             << "s3cret" << false << 0;
}

static void verifyConfig(const ManualProxyConfig &config)
{
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, valid);
    QFETCH(int, proxyType);

    QCOMPARE(config.isValid(), valid);
    QCOMPARE(config.useAuthentication(), !user.isNull());
    const QNetworkProxy proxy = config.networkProxy();
    if (!valid) {
        QCOMPARE(proxy, QNetworkProxy());
        return;
    }
    QCOMPARE(int(proxy.type()), proxyType);
    QCOMPARE(proxy.hostName(), host);
    QCOMPARE(int(proxy.port()), port);
    QCOMPARE(proxy.user(), user.isNull() ? QString() : user);
    QCOMPARE(proxy.password(), user.isNull() ? QString() : password);
}

void ManualProxyConfigTest::readsStoredSettings_data()
{
    addSettingsRows();
}

void ManualProxyConfigTest::readsStoredSettings()
{
    QFETCH(ManualProxyType, type);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);

    m_store->setManualProxy(type, host, port, user, password);
    settleSettings();
    QObject parent;
    const ManualProxyConfig config(type, &parent);
    verifyConfig(config);
}

void ManualProxyConfigTest::followsEdits_data()
{
    addSettingsRows();
}

// The same settings typed in while the object runs must end in the same state.
void ManualProxyConfigTest::followsEdits()
{
    QFETCH(ManualProxyType, type);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);

    QObject parent;
    const ManualProxyConfig config(type, &parent);
    QVERIFY(!config.isValid());
    m_store->setManualProxy(type, host, port, user, password);
    settleSettings();
    verifyConfig(config);
}

void ManualProxyConfigTest::reenablingAuthenticationRestoresCredentials()
{
    m_store->setManualProxy(HTTP, QStringLiteral("proxy.example"), 3128, QStringLiteral("alice"),
                            QStringLiteral("s3cret"));
    settleSettings();
    QObject parent;
    const ManualProxyConfig config(HTTP, &parent);
    QVERIFY(config.isValid());
    QSignalSpy spy(&config, &ManualProxyConfig::sigManualProxyConfigChanged);

    m_store->setProtocol(HTTP, QStringLiteral("useAuthentication"), false);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 1, kWaitMs);
    QVERIFY(config.isValid());
    QCOMPARE(config.networkProxy().user(), QString());
    QCOMPARE(config.networkProxy().password(), QString());

    m_store->setProtocol(HTTP, QStringLiteral("useAuthentication"), true);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kWaitMs);
    QCOMPARE(spy.at(1).at(0).value<ManualProxyType>(), HTTP);
    QVERIFY(config.isValid());
    QCOMPARE(config.networkProxy().user(), QStringLiteral("alice"));
    QCOMPARE(config.networkProxy().password(), QStringLiteral("s3cret"));
}

void ManualProxyConfigTest::emissions_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("emissions");
    QTest::addColumn<bool>("valid");

    const QString off;
    QTest::newRow("same host again") << off << off << "host" << QVariant("proxy.example") << 0 << true;
    QTest::newRow("other host") << off << off << "host" << QVariant("other.example") << 1 << true;
    QTest::newRow("port made invalid") << off << off << "port" << QVariant(0) << 1 << false;
    QTest::newRow("user while authentication off")
        << off << off << "authenticationUser" << QVariant("bob") << 0 << true;
    QTest::newRow("password completes credentials") << "alice"
                                                    << ""
                                                    << "authenticationPassword" << QVariant("s3cret") << 1 << true;
    QTest::newRow("password cleared") << "alice"
                                      << "s3cret"
                                      << "authenticationPassword" << QVariant("") << 1 << false;
    QTest::newRow("user changed") << "alice"
                                  << "s3cret"
                                  << "authenticationUser" << QVariant("bob") << 1 << true;
    QTest::newRow("user changed to the same") << "alice"
                                              << "s3cret"
                                              << "authenticationUser" << QVariant("alice") << 0 << true;
    QTest::newRow("user cleared") << "alice"
                                  << "s3cret"
                                  << "authenticationUser" << QVariant("") << 1 << false;
    // Every event passes through "address valid" on its way back to invalid.
    QTest::newRow("any key while credentials incomplete") << "alice"
                                                          << ""
                                                          << "host" << QVariant("proxy.example") << 1 << false;
}

void ManualProxyConfigTest::emissions()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(int, emissions);
    QFETCH(bool, valid);

    m_store->setManualProxy(HTTP, QStringLiteral("proxy.example"), 3128, user, password);
    settleSettings();
    QObject parent;
    const ManualProxyConfig config(HTTP, &parent);
    QSignalSpy spy(&config, &ManualProxyConfig::sigManualProxyConfigChanged);

    m_store->setProtocol(HTTP, key, value);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), emissions, kWaitMs);
    settleSettings();
    QCOMPARE(spy.count(), emissions);
    QCOMPARE(config.isValid(), valid);
    // The credentials the proxy carries are the ones stored now.
    if (valid && config.useAuthentication()) {
        QCOMPARE(config.networkProxy().user(), key == QLatin1String("authenticationUser") ? value.toString() : user);
        QCOMPARE(config.networkProxy().password(),
                 key == QLatin1String("authenticationPassword") ? value.toString() : password);
    }
}

QTEST_GUILESS_MAIN(ManualProxyConfigTest)
#include "test_manual_proxy_config.moc"
