#include "dbus/payload_parsers.h"
#include "proxy/proxy_values.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QObject>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace {

// One key of an object, as the bytes between its quotes.
struct KeySpan
{
    int object; // objects are numbered as they open
    uint hash; // of the unescaped key
    int begin;
    int end;
    bool container; // its value is an array or an object
};

// The UTF-16 units of a JSON string's content with its escapes resolved, read
// straight from the bytes between its quotes. A byte that is not part of
// UTF-8 and a broken "\u" escape read as units of their own: fromJson refuses
// both, so all that matters is that reading them stays in bounds.
class KeyUnits
{
public:
    KeyUnits(const char *begin, const char *end)
        : m_p(begin)
        , m_end(end)
    {
    }

    bool next(char16_t &unit)
    {
        if (m_low) {
            unit = m_low;
            m_low = 0;
            return true;
        }
        if (m_p == m_end)
            return false;
        const uchar c = uchar(*m_p++);
        if (c == '\\')
            unit = escaped();
        else if (c < 0x80)
            unit = c;
        else
            unit = decoded(c);
        return true;
    }

private:
    char16_t escaped()
    {
        if (m_p == m_end)
            return u'\\';
        const char c = *m_p++;
        switch (c) {
        case 'b':
            return u'\b';
        case 'f':
            return u'\f';
        case 'n':
            return u'\n';
        case 'r':
            return u'\r';
        case 't':
            return u'\t';
        case 'u':
            break;
        default:
            return char16_t(uchar(c)); // fromJson takes any other escaped character as itself
        }
        if (m_end - m_p < 4)
            return 0xDC00 | 'u';
        char16_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_p[i];
            int digit;
            if (h >= '0' && h <= '9')
                digit = h - '0';
            else if (h >= 'a' && h <= 'f')
                digit = h - 'a' + 10;
            else if (h >= 'A' && h <= 'F')
                digit = h - 'A' + 10;
            else
                return 0xDC00 | 'u';
            value = char16_t(value << 4 | digit);
        }
        m_p += 4;
        return value;
    }

    char16_t decoded(uchar lead)
    {
        int extra;
        uint codePoint;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            codePoint = lead & 0x07;
        } else {
            return 0xDC00 | lead;
        }
        if (m_end - m_p < extra)
            return 0xDC00 | lead;
        for (int i = 0; i < extra; ++i) {
            const uchar next = uchar(m_p[i]);
            if ((next & 0xC0) != 0x80)
                return 0xDC00 | lead;
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        if (codePoint > 0x10FFFF)
            return 0xDC00 | lead;
        m_p += extra;
        if (codePoint < 0x10000)
            return char16_t(codePoint);
        m_low = QChar::lowSurrogate(codePoint);
        return QChar::highSurrogate(codePoint);
    }

    const char *m_p;
    const char *m_end;
    char16_t m_low = 0; // the second half of a surrogate pair, still to come
};

uint keyHash(const char *begin, const char *end)
{
    KeyUnits units(begin, end);
    uint hash = 2166136261u;
    char16_t unit;
    while (units.next(unit))
        hash = (hash ^ unit) * 16777619u;
    return hash;
}

int compareKeys(const char *data, const KeySpan &a, const KeySpan &b)
{
    KeyUnits left(data + a.begin, data + a.end);
    KeyUnits right(data + b.begin, data + b.end);
    for (;;) {
        char16_t l = 0;
        char16_t r = 0;
        const bool hasLeft = left.next(l);
        const bool hasRight = right.next(r);
        if (!hasLeft || !hasRight)
            return int(hasLeft) - int(hasRight);
        if (l != r)
            return l < r ? -1 : 1;
    }
}

// fromJson gives up far less deep than this.
constexpr size_t kMaxScanDepth = 4096;

// The keys of a text, sorted by object and name, and those of them whose
// array or object value fromJson drops for a later value of the same key, in
// text order.
struct KeyScan
{
    std::vector<KeySpan> keys;
    std::vector<KeySpan> shadowed;
};
KeyScan scanKeys(const QByteArray &json);

// Number of U+0000 units a key starts with.
int leadingNuls(const char *data, const KeySpan &key)
{
    KeyUnits units(data + key.begin, data + key.end);
    int count = 0;
    char16_t unit;
    while (units.next(unit) && unit == 0)
        ++count;
    return count;
}

void dropKeysWithPrefix(QJsonValueRef value, const QString &prefix);

void dropKeysWithPrefix(QJsonObject &object, const QString &prefix)
{
    for (auto it = object.begin(); it != object.end();) {
        if (it.key().startsWith(prefix)) {
            it = object.erase(it);
        } else {
            dropKeysWithPrefix(it.value(), prefix);
            ++it;
        }
    }
}

void dropKeysWithPrefix(QJsonValueRef value, const QString &prefix)
{
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        dropKeysWithPrefix(object, prefix);
        value = object;
    } else if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i)
            dropKeysWithPrefix(array[i], prefix);
        value = array;
    }
}

// QJsonDocument::fromJson for peer text. Where fromJson would lose the
// dropped value of a repeated key for good (kJsonKeyGuard), each such key is
// renamed first, to a name that starts with more U+0000 than any key of the
// text and so meets no other, and the renamed keys are taken out of the
// result: what is left is what fromJson gives, a repeated key with its last
// value. Only the names change, so text that does not parse fails as it
// would. errorText gets fromJson's error, "no error" included.
QJsonDocument peerJson(const QByteArray &text, QString *errorText = nullptr)
{
    QJsonParseError error;
    KeyScan scan;
    if (kJsonKeyGuard)
        scan = scanKeys(text);
    const std::vector<KeySpan> &shadowed = scan.shadowed;
    if (shadowed.empty()) {
        QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (errorText)
            *errorText = error.errorString();
        return document;
    }

    // The scan sees every key fromJson reads.
    int nuls = 0;
    for (const KeySpan &key : scan.keys)
        nuls = std::max(nuls, leadingNuls(text.constData(), key));
    const QString prefix(nuls + 1, QChar(0));
    const QByteArray escapedPrefix = QByteArrayLiteral("\\u0000").repeated(nuls + 1);

    QByteArray renamed;
    renamed.reserve(text.size() + int(shadowed.size()) * (escapedPrefix.size() + 12));
    int copied = 0;
    int counter = 0;
    for (const KeySpan &key : shadowed) {
        renamed.append(text.constData() + copied, key.begin - copied);
        renamed += escapedPrefix + QByteArray::number(counter++) + '.';
        copied = key.begin;
    }
    renamed.append(text.constData() + copied, text.size() - copied);

    QJsonDocument document = QJsonDocument::fromJson(renamed, &error);
    if (errorText)
        *errorText = error.errorString();
    if (document.isObject()) {
        QJsonObject object = document.object();
        dropKeysWithPrefix(object, prefix);
        document.setObject(object);
    } else if (document.isArray()) {
        QJsonArray array = document.array();
        for (int i = 0; i < array.size(); ++i)
            dropKeysWithPrefix(array[i], prefix);
        document.setArray(array);
    }
    return document;
}

QJsonObject objectOrEmpty(const QString &text)
{
    const QJsonDocument document = peerJson(text.toUtf8());
    return document.isObject() ? document.object() : QJsonObject();
}

} // namespace

namespace {
KeyScan scanKeys(const QByteArray &json)
{
    KeyScan scan;
    // One pass notes every key with its object and whether its value opens a
    // container; sorting then brings the repeats of a key together. Text that
    // is not JSON is read leniently, so that nothing fromJson reads before it
    // stops is missed.
    //
    // Without a "[" and with only one "{" in the whole text no value can be a
    // container, and no key can lose one: the common payload skips the pass.
    if (!json.contains('[') && json.count('{') <= 1)
        return scan;

    struct Frame
    {
        int object; // -1: an array
        bool expectingKey;
    };
    std::vector<Frame> frames;
    std::vector<KeySpan> &keys = scan.keys;
    bool anyContainer = false;
    int objects = 0;
    bool pending = false; // a key whose value has not started yet
    KeySpan pendingKey{};

    const char *const data = json.constData();
    const int size = json.size();
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':')
            continue;
        if (pending) {
            pendingKey.container = c == '{' || c == '[';
            anyContainer = anyContainer || pendingKey.container;
            keys.push_back(pendingKey);
            pending = false;
        }
        if (c == '"') {
            const int begin = i + 1;
            int end = begin;
            while (end < size && data[end] != '"')
                end += data[end] == '\\' ? 2 : 1;
            if (end >= size)
                break; // unterminated
            i = end;
            if (!frames.empty() && frames.back().object >= 0 && frames.back().expectingKey) {
                frames.back().expectingKey = false;
                pendingKey = KeySpan{frames.back().object, keyHash(data + begin, data + end), begin, end, false};
                pending = true;
            }
        } else if (c == '{' || c == '[') {
            if (frames.size() == kMaxScanDepth)
                break;
            frames.push_back(c == '{' ? Frame{objects++, true} : Frame{-1, false});
        } else if (c == '}' || c == ']') {
            if (!frames.empty())
                frames.pop_back();
        } else if (c == ',') {
            if (!frames.empty() && frames.back().object >= 0)
                frames.back().expectingKey = true;
        }
    }
    if (!anyContainer)
        return scan;

    std::sort(keys.begin(), keys.end(), [data](const KeySpan &a, const KeySpan &b) {
        if (a.object != b.object)
            return a.object < b.object;
        if (a.hash != b.hash)
            return a.hash < b.hash;
        const int order = compareKeys(data, a, b);
        return order != 0 ? order < 0 : a.begin < b.begin;
    });
    // Within a run of equal keys the text order holds. fromJson keeps one
    // value of a repeated key and loses a dropped array or object for good;
    // which one it keeps is the last in text order only while the object is
    // small, since it sorts larger ones without keeping their order (seen
    // with 5.15.8: an object of 27 members lost its last array). So when any
    // value of a repeated key is a container, every occurrence but the last
    // is renamed away: fromJson then meets no repeat of that key at all.
    for (size_t first = 0; first < keys.size();) {
        size_t end = first + 1;
        bool container = keys[first].container;
        while (end < keys.size() && keys[end].object == keys[first].object && keys[end].hash == keys[first].hash
               && compareKeys(data, keys[first], keys[end]) == 0) {
            container = container || keys[end].container;
            ++end;
        }
        if (container) {
            for (size_t i = first; i + 1 < end; ++i)
                scan.shadowed.push_back(keys[i]);
        }
        first = end;
    }
    std::sort(scan.shadowed.begin(), scan.shadowed.end(),
              [](const KeySpan &a, const KeySpan &b) { return a.begin < b.begin; });
    return scan;
}
} // namespace

bool jsonHasDuplicateContainerKey(const QByteArray &json)
{
    return !scanKeys(json).shadowed.empty();
}

std::optional<_System_Notification_Data> parseSystemNotification(const QString &noticeJson)
{
    if (noticeJson.isEmpty())
        return std::nullopt;
    const QJsonDocument document = peerJson(noticeJson.toUtf8());
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

    QString error;
    const QJsonDocument document = peerJson(statusJson.toUtf8(), &error);
    if (!document.isObject()) {
        result.parseFailed = true;
        result.parseError = error;
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
    QString error;
    const QJsonDocument document = peerJson(answer, &error);
    if (!document.isObject()) {
        result.parseError = error;
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
        // Format characters (a bidirectional override, an invisible space)
        // would make the name read differently in a log line than it is.
        if (isUnsafeForLog(c.unicode()) || c.category() == QChar::Other_Format || c == QLatin1Char(':')
            || c == QLatin1Char('/'))
            return false;
    }
    return true;
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
