#include "dbus/payload_parsers.h"
#include "proxy/proxy_values.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QObject>

#include <climits>
#include <cmath>

namespace {

QJsonObject objectOrEmpty(const QString &text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    return document.isObject() ? document.object() : QJsonObject();
}

} // namespace

std::optional<_System_Notification_Data> parseSystemNotification(const QString &noticeJson)
{
    if (noticeJson.isEmpty())
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(noticeJson.toUtf8());
    if (document.isEmpty() || !document.isObject())
        return std::nullopt;

    const QJsonObject object = document.object();
    _System_Notification_Data data;
    if (object.contains(QLatin1String("opt")))
        data.opt = object.value(QLatin1String("opt")).toInt(0);
    if (object.contains(QLatin1String("appName")))
        data.appName = object.value(QLatin1String("appName")).toString();
    if (object.contains(QLatin1String("packageName")))
        data.packageName = object.value(QLatin1String("packageName")).toString();
    if (object.contains(QLatin1String("logname")))
        data.logname = object.value(QLatin1String("logname")).toString();
    return data;
}

PkgOpNoticeText pkgOpNoticeText(int status)
{
    switch (status) {
    case OptInstallSucceeded:
        return {QT_TRANSLATE_NOOP("QObject", "\"%1\" installed successfully"), true, QStringLiteral("package-install-succeed")};
    case OptInstallFailed:
        return {QT_TRANSLATE_NOOP("QObject", "Failed to install \"%1\""), true, QStringLiteral("package-install-failed")};
    case OptUpdateSucceeded:
        return {QT_TRANSLATE_NOOP("QObject", "\"%1\" updated successfully"), true, QStringLiteral("package-updated-succeed")};
    case OptUpdateFailed:
        return {QT_TRANSLATE_NOOP("QObject", "Failed to update \"%1\""), true, QStringLiteral("package-updated-failed")};
    case OptRemoveSucceeded:
        return {QT_TRANSLATE_NOOP("QObject", "%1 removed successfully"), true, QStringLiteral("application-default-icon")};
    case OptRemoveFailed:
        return {QT_TRANSLATE_NOOP("QObject", "Failed to remove the app"), false, QStringLiteral("application-default-icon")};
    case OptNewVersion:
        return {QT_TRANSLATE_NOOP("QObject", "\"%1\" new version available"), true, QString()};
    default:
        return {};
    }
}

AppBriefInfoResult parseAppBriefInfo(const QString &statusJson)
{
    AppBriefInfoResult result;
    if (statusJson.trimmed().isEmpty())
        return result;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(statusJson.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        result.parseFailed = true;
        result.parseError = error.errorString();
        return result;
    }

    const QJsonObject object = document.object();
    if (!object.contains(QLatin1String("appBriefInfo")))
        return result;
    const QJsonObject brief = object.value(QLatin1String("appBriefInfo")).toObject();

    const QString name = brief.value(QLatin1String("package_name")).toString();
    if (name.isEmpty())
        return result;
    if (brief.value(QLatin1String("package_mode")).toInt(-1) != 1)
        return result;
    if (brief.value(QLatin1String("pkgInstallMode")).toInt(0) != 1)
        return result;

    result.nameAndMode = qMakePair(name, brief.value(QLatin1String("package_mode")).toInt(0));
    return result;
}

bool isSafePackageName(const QString &packageName)
{
    if (packageName.isEmpty() || packageName.size() > 255)
        return false;
    const auto isAsciiAlnum = [](QChar c) {
        const ushort u = c.unicode();
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9');
    };
    if (!isAsciiAlnum(packageName.at(0)))
        return false;
    for (const QChar c : packageName) {
        if (!isAsciiAlnum(c) && c != QLatin1Char('.') && c != QLatin1Char('+') && c != QLatin1Char('-')
            && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

UpgradeAppInfo parseUpgradeAppInfo(const QString &infoJson)
{
    const QJsonObject object = objectOrEmpty(infoJson);
    UpgradeAppInfo info;
    info.packageName = object.value(QLatin1String("package_name")).toString();
    info.name = object.value(QLatin1String("name")).toString();
    info.supportWayland = object.value(QLatin1String("supportWayland")).toInt(0);
    return info;
}

QString escapeBodyMarkup(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&'))
            escaped += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            escaped += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

QString upgradeNoticeBody(const QStringList &names)
{
    const int count = names.size();
    QString body = count == 1 ? QObject::tr("1 app") : QObject::tr("%n apps", "", count);
    body += QLatin1String(": ");
    const int shown = qMin(count, 3);
    for (int i = 0; i < shown; ++i) {
        body += names.at(i);
        if (i != 2 && i < count - 1)
            body += QLatin1String(", ");
    }
    if (count > 3)
        body += QLatin1String("...");
    return body;
}

CurrentUserAnswer parseCurrentUser(const QByteArray &answer)
{
    CurrentUserAnswer result;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        result.parseError = error.errorString();
        return result;
    }
    result.parsed = true;

    const QJsonObject object = document.object();
    if (object.contains(QLatin1String("Name"))) {
        result.hasName = true;
        result.name = object.value(QLatin1String("Name")).toString().trimmed();
    }
    if (object.contains(QLatin1String("Uid"))) {
        result.hasUid = true;
        // Anything but a whole number in uid_t's range names nobody: a
        // malformed answer must never fall back to uid 0.
        const QJsonValue uid = object.value(QLatin1String("Uid"));
        if (uid.isDouble()) {
            const double value = uid.toDouble();
            if (std::isfinite(value) && value >= 0 && value < 4294967295.0 && std::floor(value) == value)
                result.uid = static_cast<uint>(value);
        }
    }
    return result;
}

bool isPlausibleLoginName(const QString &name)
{
    if (name.isEmpty() || name.toUtf8().size() >= LOGIN_NAME_MAX)
        return false;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c == QLatin1Char(':') || c == QLatin1Char('/'))
            return false;
    }
    return true;
}

QByteArray cutForLog(const QByteArray &text)
{
    if (text.size() <= kLogQuoteLimit)
        return text;
    int end = kLogQuoteLimit;
    // Back off over UTF-8 continuation bytes, at most three, so that a
    // character is never split; other bytes are cut where the limit falls.
    for (int back = 0; back < 3 && (static_cast<uchar>(text.at(end)) & 0xC0) == 0x80; ++back)
        --end;
    if ((static_cast<uchar>(text.at(end)) & 0xC0) == 0x80)
        end = kLogQuoteLimit;
    return text.left(end) + "[... cut, " + QByteArray::number(text.size()) + " bytes in all]";
}

QString cutForLog(const QString &text)
{
    // Cheap test first: every QChar takes at least one UTF-8 byte.
    if (text.size() <= kLogQuoteLimit / 3)
        return text;
    const QByteArray bytes = text.toUtf8();
    return bytes.size() <= kLogQuoteLimit ? text : QString::fromUtf8(cutForLog(bytes));
}

bool isWaylandSession(const QString &sessionType, const QString &waylandDisplay)
{
    return sessionType == QLatin1String("wayland")
        || waylandDisplay.contains(QLatin1String("wayland"), Qt::CaseInsensitive);
}

QString proxyEnvironmentText(const QVariantMap &environment)
{
    return QString::fromUtf8(QJsonDocument::fromVariant(environment).toJson(QJsonDocument::Compact));
}

QString redactProxyPasswords(const QString &environmentText)
{
    return redactProxyEnvironment(environmentText);
}
