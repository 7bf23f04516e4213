// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "gsettings/gsettings_watcher.h"

#include "gsettings/settings_schema.h"
#include "logging/log_category.h"

#include <QGSettings>

#include <algorithm>
#include <utility>

const char kGSettingsAppStoreSchemaId[] = "com.orvane.kesh.app-store";
const char kGSettingsAppStorePath[] = "/com/orvane/kesh/app-store/";

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
    return SettingsSchema::isPathAllowed(schemaPath, path);
}

bool GSettingsWatcher::addSchema(const QByteArray &schemaId, const QByteArray &path)
{
    const SettingsSchema schema(schemaId);
    if (!schema.isInstalled()) {
        qCWarning(logMain) << schemaId << "not installed";
        return false;
    }

    const QPair<QByteArray, QByteArray> pair(schemaId, path);
    if (m_gsettingsMap.contains(pair))
        return true;

    if (!isPathAllowed(schema.path(), path)) {
        qCWarning(logMain) << schemaId << path << "path not allowed";
        return false;
    }

    QGSettings *settings = schema.open(path, this);
    connect(settings, &QGSettings::changed, this, &GSettingsWatcher::slotValueChanged);
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
    if (!SettingsSchema(schemaId).hasKey(key))
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

QVariant GSettingsWatcher::getValueSync(const QByteArray &schemaId, const QByteArray &path, const QString &key) const
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
    if (!SettingsSchema(it.key().first).hasKey(key)) {
        qCWarning(logMain) << it.key().first << it.key().second << "find key failed" << key;
        return;
    }
    const QVariant value = settings->get(key);
    Q_EMIT sigValueChanged(it.key().first, it.key().second, key, value);
}
