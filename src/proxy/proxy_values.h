// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// What the proxy settings may put into the environment and into the log. Each
// function takes the settings' text and numbers and returns plain values; none
// touches a setting, the environment or the log.
#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QtGlobal>

#include <optional>

enum ManualProxyType { HTTP, HTTPS, FTP, SOCKS };

// A variable beyond 128 KiB makes every later exec of this process fail, and
// every child inherits what is written here: proxy URLs and the automatic
// configuration URL stay far below that.
constexpr int kMaxProxyUrlLength = 8192;
// The longest host name (253) with a wildcard label in front and a port behind.
constexpr int kMaxIgnoreHostLength = 253 + 2 + 6;
constexpr int kMaxNoProxyLength = 32768;

// The host as it stands in a URL's authority: an IPv6 literal bracketed (a
// bracketed one as it is) with its zone written "%25zone", a host name or IPv4
// address as it is, an internationalised name in its ASCII form. Empty when the
// text is none of these.
QString proxyUrlHost(const QString &host);

// "scheme://[user:password@]host:port" of one manual proxy; "socks5://" for
// SOCKS, "http://" for the others. User and password are percent-encoded where
// URL userinfo does not allow their characters. Empty when the host is not a
// valid host name or address, the port is 0, or the URL would be longer than
// kMaxProxyUrlLength.
QString manualProxyUrl(ManualProxyType type, const QString &host, quint16 port, bool useAuthentication,
                       const QString &user, const QString &password);

// The entries of "ignore-hosts" that may reach "no_proxy", in their order: an
// entry holding a control character (C0, DEL, C1, or the line and paragraph
// separators U+2028 and U+2029) or longer than kMaxIgnoreHostLength is
// dropped, and so is every entry that would take the joined list beyond
// kMaxNoProxyLength. Bidirectional controls are kept.
struct IgnoreHostsFilter
{
    QStringList hosts;
    int dropped = 0;
};
IgnoreHostsFilter filterIgnoreHosts(const QStringList &ignoreHosts);

// The automatic configuration URL as "auto_proxy" may hold it; nothing when it
// holds a control character (as above) or is longer than kMaxProxyUrlLength.
std::optional<QString> autoProxyValue(const QString &autoconfigUrl);

// The value for a log line: with an "@" after "scheme://", everything from
// there to the last "@" of the value is written "***" (a password may hold a
// raw "/", "?", "#" or "@", so nothing earlier can be trusted to end it). A
// value with an "@" but no "scheme://" in front is written "***" as a whole.
QString redactProxyValue(const QString &value);

// The environment text (one JSON object of strings) with every value redacted
// as above; text that is not a JSON object is redacted as one value.
QString redactProxyEnvironment(const QString &environmentText);

// The proxy environment as the compact JSON object text sent to the system daemon.
QString proxyEnvironmentText(const QVariantMap &environment);

// The same text with the userinfo of every value written "***", for logs
// (redactProxyEnvironment).
QString redactProxyPasswords(const QString &environmentText);
