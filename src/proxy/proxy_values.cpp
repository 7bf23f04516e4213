// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "proxy/proxy_values.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>

namespace {
const QString kRedacted = QStringLiteral("***");

// Bypass entries, hosts and the automatic configuration URL are refused for
// what the environment cannot carry to the programs that read it: a NUL ends
// the value, a line break or other control character splits or rewrites the
// line of whoever reads or prints the variable. Bidirectional controls only
// reorder how a line looks; the log handler escapes them in every line.
bool isControlCharacter(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

bool holdsControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), isControlCharacter);
}

bool isAsciiAlnum(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
}

bool isUnreserved(QChar c)
{
    return isAsciiAlnum(c) || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('_')
        || c == QLatin1Char('~');
}

// Letters, digits, hyphens and, as internal networks use them, underscores;
// no hyphen at either end.
bool isHostLabel(QStringView label)
{
    if (label.isEmpty() || label.size() > 63)
        return false;
    if (label.front() == QLatin1Char('-') || label.back() == QLatin1Char('-'))
        return false;
    return std::all_of(label.cbegin(), label.cend(),
                       [](QChar c) { return isAsciiAlnum(c) || c == QLatin1Char('-') || c == QLatin1Char('_'); });
}

bool isAsciiHostName(const QString &name)
{
    QStringView labels(name);
    if (labels.endsWith(QLatin1Char('.')))
        labels.chop(1);
    if (labels.isEmpty() || labels.size() > 253)
        return false;
    for (;;) {
        const qsizetype dot = labels.indexOf(QLatin1Char('.'));
        if (!isHostLabel(dot < 0 ? labels : labels.left(dot)))
            return false;
        if (dot < 0)
            return true;
        labels = labels.mid(dot + 1);
    }
}

// "address" or "address%zone" of an IPv6 literal, without brackets. In a URL
// the zone's "%" is itself encoded ("%25"), so a bracketed literal may already
// carry it that way.
QString ipv6UrlHost(const QString &literal, bool bracketed)
{
    const int percent = literal.indexOf(QLatin1Char('%'));
    const QString address = percent < 0 ? literal : literal.left(percent);
    QString zone = percent < 0 ? QString() : literal.mid(percent + 1);

    if (address.isEmpty() || address.size() > 45)
        return QString();
    const bool addressCharacters = std::all_of(address.cbegin(), address.cend(), [](QChar c) {
        const ushort u = c.unicode();
        return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F') || u == ':' || u == '.';
    });
    QHostAddress parsed;
    if (!addressCharacters || !parsed.setAddress(address) || parsed.protocol() != QAbstractSocket::IPv6Protocol)
        return QString();

    if (percent >= 0) {
        if (bracketed && zone.startsWith(QLatin1String("25")) && zone.size() > 2)
            zone.remove(0, 2);
        if (zone.isEmpty() || zone.size() > 64 || !std::all_of(zone.cbegin(), zone.cend(), isUnreserved))
            return QString();
    }
    return QLatin1Char('[') + address + (zone.isEmpty() ? QString() : QLatin1String("%25") + zone) + QLatin1Char(']');
}

// Userinfo may hold unreserved characters and sub-delims as they are; ":"
// separates user from password and "@" ends the userinfo, so both are encoded
// along with everything else.
QString encodeUserInfo(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, QByteArrayLiteral("!$&'()*+,;=")));
}

// Index just behind "scheme://", or -1.
int authorityStart(const QString &value)
{
    const int separator = value.indexOf(QLatin1String("://"));
    if (separator < 1 || !value.at(0).isLetter() || value.at(0).unicode() > 0x7f)
        return -1;
    for (int i = 1; i < separator; ++i) {
        const QChar c = value.at(i);
        if (!isAsciiAlnum(c) && c != QLatin1Char('+') && c != QLatin1Char('-') && c != QLatin1Char('.'))
            return -1;
    }
    return separator + 3;
}
} // namespace

QString proxyUrlHost(const QString &host)
{
    if (host.isEmpty() || host.size() > 254 || holdsControlCharacter(host))
        return QString();

    if (host.startsWith(QLatin1Char('['))) {
        if (!host.endsWith(QLatin1Char(']')))
            return QString();
        return ipv6UrlHost(host.mid(1, host.size() - 2), true);
    }
    if (host.contains(QLatin1Char(':')))
        return ipv6UrlHost(host, false);

    const bool ascii = std::all_of(host.cbegin(), host.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return isAsciiHostName(host) ? host : QString();
    // Not every client resolves a name in Unicode; all of them take its ASCII form.
    const QString ace = QString::fromLatin1(QUrl::toAce(host));
    return isAsciiHostName(ace) ? ace : QString();
}

QString manualProxyUrl(ManualProxyType type, const QString &host, quint16 port, bool useAuthentication,
                       const QString &user, const QString &password)
{
    const QString urlHost = proxyUrlHost(host);
    if (urlHost.isEmpty() || port == 0)
        return QString();
    // Encoding never shortens text; spare it for credentials that cannot fit.
    if (useAuthentication && user.size() + password.size() > kMaxProxyUrlLength)
        return QString();

    QString url = type == SOCKS ? QStringLiteral("socks5://") : QStringLiteral("http://");
    if (useAuthentication)
        url += encodeUserInfo(user) + QLatin1Char(':') + encodeUserInfo(password) + QLatin1Char('@');
    url += urlHost + QLatin1Char(':') + QString::number(port);
    return url.size() > kMaxProxyUrlLength ? QString() : url;
}

IgnoreHostsFilter filterIgnoreHosts(const QStringList &ignoreHosts)
{
    IgnoreHostsFilter result;
    int length = 0;
    for (const QString &entry : ignoreHosts) {
        const int joinedLength = length + (result.hosts.isEmpty() ? 0 : 1) + entry.size();
        if (entry.size() > kMaxIgnoreHostLength || joinedLength > kMaxNoProxyLength || holdsControlCharacter(entry)) {
            ++result.dropped;
            continue;
        }
        result.hosts.append(entry);
        length = joinedLength;
    }
    return result;
}

std::optional<QString> autoProxyValue(const QString &autoconfigUrl)
{
    if (autoconfigUrl.size() > kMaxProxyUrlLength || holdsControlCharacter(autoconfigUrl))
        return std::nullopt;
    return autoconfigUrl;
}

QString redactProxyValue(const QString &value)
{
    const int lastAt = value.lastIndexOf(QLatin1Char('@'));
    if (lastAt < 0)
        return value;
    // An inherited or configured value may carry a password raw, with any of
    // "/", "?", "#" and "@" in it: no reading of the authority tells where it
    // ends (a password of digits before a "/" reads as a port). So the
    // userinfo runs to the last "@" of the value; a log line loses a path at
    // worst, never shows a secret.
    const int start = authorityStart(value);
    if (start < 0)
        return kRedacted;
    QString redacted = value;
    redacted.replace(start, lastAt - start, kRedacted);
    return redacted;
}

QString redactProxyEnvironment(const QString &environmentText)
{
    const QJsonDocument document = QJsonDocument::fromJson(environmentText.toUtf8());
    if (!document.isObject())
        return redactProxyValue(environmentText);

    QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.value().isString())
            it.value() = redactProxyValue(it.value().toString());
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString proxyEnvironmentText(const QVariantMap &environment)
{
    return QString::fromUtf8(QJsonDocument::fromVariant(environment).toJson(QJsonDocument::Compact));
}

QString redactProxyPasswords(const QString &environmentText)
{
    return redactProxyEnvironment(environmentText);
}
