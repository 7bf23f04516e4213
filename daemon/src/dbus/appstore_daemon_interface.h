// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The session service: holds the proxy to the system app-store daemon and the
// facts of this session, and turns the events of the system daemon, the lock
// service, the desktop settings and the proxy monitor into notices and reports.
#pragma once

#include "notices/notice_texts.h"
#include "notices/payload_readers.h"

#include <QDate>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <vector>

class SystemDaemonInterface;
class QDBusConnection;
class QDBusMessage;
class QDBusServiceWatcher;
class QTimer;

// Proxy kind of a manual proxy report; the system daemon defines its values.
enum class ProxyType : qint32 {};

class AppstoreDaemonInterface : public QObject
{
    Q_OBJECT

public:
    static AppstoreDaemonInterface *instance();

    explicit AppstoreDaemonInterface(QObject *parent = nullptr);
    ~AppstoreDaemonInterface() override;

    void reportProxyMode(const QString &mode);
    void reportManualProxy(const ProxyType &type, const QString &first, const QString &second);
    void reportSystemProxyEnvironment(const QString &environment);

    void callNotify(const QString &summary, const QString &body, const QString &openUrl, const QString &fromId);
    void callPkgOpNotify(const E_OptStatus &status, const QString &appName, const QString &packageName);
    QPair<QString, int> parseAppInfoJson(const QString &json);

    // Longest wait of every blocking call to a peer: the main thread serves the
    // session while it waits, and a hung peer must not hold it for the bus's 25 s.
    static constexpr int kBlockingCallTimeoutMs = 2000;

    // Notices wait this long at most for the notification server to say
    // whether it reads bodies as markup.
    static constexpr int kCapabilitiesWaitMs = 2000;

    // Each waits at most timeoutMs; with no time left the call is not made and
    // takes its error path. timedOut, when given, tells a peer that did not
    // answer in time from one that answered with an error.
    QString readNotifyTime(int timeoutMs = kBlockingCallTimeoutMs, bool *timedOut = nullptr);
    void writeNotifyTime();
    bool getLocalUpgradeCheckStatus(int timeoutMs = kBlockingCallTimeoutMs, bool *timedOut = nullptr);

    // Sends at once the notices that wait for the notification server's
    // answer, as when the wait runs out. For the stop of the service.
    void sendHeldNotices();

private Q_SLOTS:
    void slotGSettingsValueChanged(const QByteArray &schemaId, const QByteArray &path, const QString &key,
                                   const QVariant &value);
    void slotLocalAppsUpgradeNotify(const QStringList &infos);
    void slotSystemNotificationSent(const QString &noticeJsonStr);
    void slotInstallProgress(const QString &id, const QString &packageName, const int &state, const int &total,
                             const int &progress, const QString &statusMsg);
    void slotSystemProxyEnvironmentChanged();
    void slotUserChanged(const QString &userName);
    void slotSystemBusDisconnected();

private:
    void initConnections();
    void initDBusConnections(const QDBusConnection &bus);
    void getLogName();
    void askLockService();
    bool takeCurrentUser(const QDBusMessage &reply);
    QDBusConnection systemBus() const;
    void waitForSystemBus(int waitMs);
    void connectSystemBus();
    void bringUpSystemSide();
    void takeDownSystemSide();
    void storeUnstoredNoticeDate();
    void watchSystemDaemon(const QDBusConnection &bus);
    void storeTimedOut(const char *read);
    void probeStore();
    void watchNotificationServer();
    void askNotificationCapabilities();
    void sendNotice(std::function<void()> send);
    void releaseNotices();

    static AppstoreDaemonInterface *m_appstoreDaemon;

    SystemDaemonInterface *m_daemonInterface = nullptr;
    QDBusServiceWatcher *m_daemonWatcher = nullptr;
    // The system bus is a connection of this service's own, under a new name
    // for each: Qt's shared one is never opened again once its bus daemon has
    // gone, and the host of the plugin may hold it.
    QString m_systemBusName;
    QTimer *m_systemBusRetry = nullptr;
    int m_systemBusRetryMs = 0; // 0: no failed connection since the last one up
    bool m_systemBusWarned = false; // this outage has had its warning
    QDate m_unstoredNoticeDate; // the update notice went out while the system bus was away
    QString m_logName;
    bool m_systemNoticeEnabled = false;
    bool m_isWayland = false;
    QStringList m_ignoreUpdateApps;
    QVariantMap m_proxyEnvironment;
    QDate m_noticeShownDate; // the day this process last showed the update notice
    bool m_systemSideUp = false; // the system bus answered and is connected
    bool m_storeUnresponsive = false; // the system daemon let a blocking call time out
    bool m_storeProbePending = false;

    // What the notification server said of markup. Notices wait while it is
    // being asked, for kCapabilitiesWaitMs at most.
    enum class Capabilities { Unknown, Asking, Known };
    Capabilities m_capabilities = Capabilities::Unknown;
    BodyMarkup m_bodyMarkup = BodyMarkup::NotRead; // Unknown: it did not say
    quint64 m_capabilitiesQuery = 0; // answers to older queries are stale
    std::vector<std::function<void()>> m_heldNotices;
    QTimer *m_noticeHold = nullptr;
};
