// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// A proxy configuration as the desktop settings hold it, up to the seven
// proxy variables and the line logged when they are reported.
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "proxy/proxy_values.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>

namespace {

quint16 portFrom(const QByteArray &text)
{
    bool ok = false;
    const qlonglong port = text.toLongLong(&ok);
    return ok && port >= 1 && port <= 65535 ? quint16(port) : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Lines: the mode, followed by " auth" when authentication is on; host;
    // port; user; password; automatic configuration URL; then one ignored
    // host per line.
    const QList<QByteArray> fields = fuzzFields(fuzzBytes(data, size), 7);
    const QString modeLine = QString::fromUtf8(fields.at(0));
    const QString mode = modeLine.section(QLatin1Char(' '), 0, 0);
    const bool useAuthentication = modeLine.endsWith(QLatin1String(" auth"));
    QNetworkProxy proxy;
    proxy.setHostName(QString::fromUtf8(fields.at(1)));
    proxy.setPort(portFrom(fields.at(2)));
    proxy.setUser(QString::fromUtf8(fields.at(3)));
    proxy.setPassword(QString::fromUtf8(fields.at(4)));
    const QString autoconfigUrl = QString::fromUtf8(fields.at(5));
    QStringList ignoreHosts;
    for (const QByteArray &line : fields.at(6).split('\n'))
        ignoreHosts.append(QString::fromUtf8(line));

    bool valid = !proxy.hostName().isEmpty() && proxy.port() != 0;
    if (useAuthentication)
        valid = valid && !proxy.user().isEmpty() && !proxy.password().isEmpty();

    QVariantMap environment;
    for (const char *name :
         {"http_proxy", "https_proxy", "ftp_proxy", "SOCKS_SERVER", "all_proxy", "no_proxy", "auto_proxy"})
        environment.insert(QLatin1String(name), QString());
    if (mode == QLatin1String("auto")) {
        environment.insert(QStringLiteral("auto_proxy"), autoProxyValue(autoconfigUrl).value_or(QString()));
    } else if (mode == QLatin1String("manual")) {
        environment.insert(QStringLiteral("no_proxy"), filterIgnoreHosts(ignoreHosts).hosts.join(QLatin1Char(',')));
        if (valid) {
            const auto url = [&](ManualProxyType type) {
                return manualProxyUrl(type, proxy.hostName(), proxy.port(), useAuthentication, proxy.user(),
                                      proxy.password());
            };
            environment.insert(QStringLiteral("http_proxy"), url(HTTP));
            environment.insert(QStringLiteral("https_proxy"), url(HTTPS));
            environment.insert(QStringLiteral("ftp_proxy"), url(FTP));
            environment.insert(QStringLiteral("SOCKS_SERVER"), url(SOCKS));
            environment.insert(QStringLiteral("all_proxy"), url(SOCKS));
        }
    }

    const QString report = proxyEnvironmentText(environment);
    const QString redacted = redactProxyPasswords(report);
    QString line;
    QDebug(&line).noquote() << "System Proxy:" << redacted;

    const QJsonObject sent = QJsonDocument::fromJson(report.toUtf8()).object();
    FUZZ_CHECK(sent.size() == 7);
    for (auto it = sent.begin(); it != sent.end(); ++it) {
        FUZZ_CHECK(it.value().isString());
        FUZZ_CHECK(it.value().toString().size() <= kMaxNoProxyLength);
    }
    const QString httpUrl = sent.value(QStringLiteral("http_proxy")).toString();
    if (!httpUrl.isEmpty() && useAuthentication) {
        // The password as the URL carries it must not reach the log.
        const QString probe = manualProxyUrl(HTTP, QStringLiteral("h"), 1, true, QStringLiteral("u"), proxy.password());
        const QString encoded = probe.mid(9, probe.size() - 9 - 4);
        const QString withoutPassword = manualProxyUrl(HTTP, proxy.hostName(), proxy.port(), true, proxy.user(),
                                                       QStringLiteral("p"));
        if (encoded.size() >= 3 && encoded != QLatin1String("***") && !withoutPassword.contains(encoded)) {
            const QJsonObject logged = QJsonDocument::fromJson(redacted.toUtf8()).object();
            for (const char *name : {"http_proxy", "https_proxy", "ftp_proxy", "SOCKS_SERVER", "all_proxy"})
                FUZZ_CHECK(!logged.value(QLatin1String(name)).toString().contains(encoded));
        }
    }
    volatile int length = line.size();
    (void)length;
    return 0;
}
