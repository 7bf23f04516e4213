#include "gsettings/gsettings_watcher.h"

#include "util/log_category.h"

#include <QGSettings>

#include <algorithm>
#include <memory>
#include <utility>

// GIO declares struct members named "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

const char kGSettingsAppStoreSchemaId[] = "com.orvane.kesh.app-store";
const char kGSettingsAppStorePath[] = "/com/orvane/kesh/app-store/";

namespace {

struct SchemaUnref
{
    void operator()(GSettingsSchema *schema) const { g_settings_schema_unref(schema); }
};
using SchemaPtr = std::unique_ptr<GSettingsSchema, SchemaUnref>;

// gsettings-qt asks GLib without checking first, and GLib aborts the process on
// an unknown schema, path or key; so every check is made here, on GIO directly.
SchemaPtr lookupSchema(const QByteArray &schemaId)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return nullptr;
    return SchemaPtr(g_settings_schema_source_lookup(source, schemaId.constData(), TRUE));
}

// keys() is not enough: it lists "level2" for a key "level-2", and
// gsettings-qt then asks GLib for "level2".
bool hasKey(const QByteArray &schemaId, const QString &key)
{
    const SchemaPtr schema = lookupSchema(schemaId);
    return schema && g_settings_schema_has_key(schema.get(), GSettingsWatcher::gsettingsKeyName(key).constData());
}

} // namespace

GSettingsWatcher *GSettingsWatcher::m_gsettingsWatcher = nullptr;

GSettingsWatcher *GSettingsWatcher::instance()
{
    if (!m_gsettingsWatcher)
        m_gsettingsWatcher = new GSettingsWatcher(nullptr);
    return m_gsettingsWatcher;
}

GSettingsWatcher::GSettingsWatcher(QObject *parent)
    : QObject(parent)
{
    addSchema(QByteArray(kGSettingsAppStoreSchemaId), QByteArray(kGSettingsAppStorePath));
}

GSettingsWatcher::~GSettingsWatcher()
{
    // A later instance() (a plugin started again) must build a new watcher.
    if (m_gsettingsWatcher == this)
        m_gsettingsWatcher = nullptr;
    for (QGSettings *settings : std::as_const(m_gsettingsMap)) {
        if (!settings)
            continue;
        QObject::disconnect(settings, nullptr, nullptr, nullptr);
        settings->deleteLater();
    }
}

bool GSettingsWatcher::isPathAllowed(const QByteArray &schemaPath, const QByteArray &path)
{
    // An empty path makes gsettings-qt open the schema at its own path.
    if (!schemaPath.isEmpty())
        return path.isEmpty() || path == schemaPath;
    return path.startsWith('/') && path.endsWith('/') && !path.contains("//");
}

QByteArray GSettingsWatcher::gsettingsKeyName(const QString &key)
{
    // gsettings-qt turns every upper-case letter into a dash and its lower
    // case, and passes everything else on as it is.
    const QByteArray bytes = key.toUtf8();
    QByteArray name;
    name.reserve(bytes.size() + 4);
    for (const char c : bytes) {
        if (c >= 'A' && c <= 'Z') {
            name.append('-');
            name.append(static_cast<char>(c - 'A' + 'a'));
        } else {
            name.append(c);
        }
    }
    return name;
}

bool GSettingsWatcher::addSchema(const QByteArray &schemaId, const QByteArray &path)
{
    if (!QGSettings::isSchemaInstalled(schemaId)) {
        qCWarning(logMain) << schemaId << "not installed";
        return false;
    }

    const QPair<QByteArray, QByteArray> pair(schemaId, path);
    if (m_gsettingsMap.contains(pair))
        return true;

    const SchemaPtr schema = lookupSchema(schemaId);
    if (!schema) {
        qCWarning(logMain) << schemaId << "not installed";
        return false;
    }
    if (!isPathAllowed(QByteArray(g_settings_schema_get_path(schema.get())), path)) {
        qCWarning(logMain) << schemaId << path << "path not allowed";
        return false;
    }

    auto *settings = new QGSettings(schemaId, path, this);
    connect(settings, &QGSettings::changed, this, &GSettingsWatcher::slotValueChanged, Qt::UniqueConnection);
    m_gsettingsMap.insert(pair, settings);
    return true;
}

void GSettingsWatcher::removeSchema(const QByteArray &schemaId, const QByteArray &path)
{
    const auto it = m_gsettingsMap.find(qMakePair(schemaId, path));
    if (it == m_gsettingsMap.end())
        return;
    it.value()->deleteLater();
    m_gsettingsMap.erase(it);
}

GSettingsWatcher::Lookup GSettingsWatcher::findSettings(const QByteArray &schemaId, const QByteArray &path,
                                                        const QString &key) const
{
    QGSettings *settings = m_gsettingsMap.value(qMakePair(schemaId, path), nullptr);
    if (!settings)
        return {nullptr, LookupFailure::NotRegistered};
    if (!hasKey(schemaId, key))
        return {nullptr, LookupFailure::NoSuchKey};
    return {settings, LookupFailure::None};
}

namespace {

// Streamed into the caller's own warning, so that each warning carries the
// function and line of the operation that failed.
struct LookupFailureText
{
    bool noSuchKey;
    const QByteArray &schemaId;
    const QByteArray &path;
    const QString &key;
};

QDebug operator<<(QDebug debug, const LookupFailureText &failure)
{
    if (failure.noSuchKey)
        debug << failure.schemaId << failure.path << "find key failed" << failure.key;
    else
        debug << failure.schemaId << failure.path << "find QGSettings failed";
    return debug;
}

} // namespace

void GSettingsWatcher::setValue(const QByteArray &schemaId, const QByteArray &path, const QString &key,
                                const QVariant &value)
{
    const Lookup lookup = findSettings(schemaId, path, key);
    if (!lookup.settings) {
        qCWarning(logMain) << LookupFailureText{lookup.failure == LookupFailure::NoSuchKey, schemaId, path, key};
        return;
    }
    lookup.settings->set(key, value);
}

QVariant GSettingsWatcher::getValueSync(const QByteArray &schemaId, const QByteArray &path,
                                        const QString &key) const
{
    const Lookup lookup = findSettings(schemaId, path, key);
    if (!lookup.settings) {
        qCWarning(logMain) << LookupFailureText{lookup.failure == LookupFailure::NoSuchKey, schemaId, path, key};
        return QVariant();
    }
    return lookup.settings->get(key);
}

void GSettingsWatcher::getValueAsync(const QByteArray &schemaId, const QByteArray &path, const QString &key)
{
    const QVariant value = getValueSync(schemaId, path, key);
    if (value.isValid())
        Q_EMIT sigValueChanged(schemaId, path, key, value);
}

void GSettingsWatcher::slotValueChanged(const QString &key)
{
    auto *settings = qobject_cast<QGSettings *>(sender());
    if (!settings) {
        qCWarning(logMain) << "cast to QGSettings failed";
        return;
    }

    // A removed object still notifies until its deferred deletion has run.
    const auto it = std::find(m_gsettingsMap.cbegin(), m_gsettingsMap.cend(), settings);
    if (it == m_gsettingsMap.cend()) {
        qCWarning(logMain) << "find QGSettings failed";
        return;
    }

    // The key comes from gsettings-qt, which may name it in a form GLib does not know.
    if (!hasKey(it.key().first, key)) {
        qCWarning(logMain) << it.key().first << it.key().second << "find key failed" << key;
        return;
    }
    const QVariant value = settings->get(key);
    Q_EMIT sigValueChanged(it.key().first, it.key().second, key, value);
}
