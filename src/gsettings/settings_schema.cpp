// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "gsettings/settings_schema.h"

#include <QGSettings>

#include <gio/gio.h>

void SettingsSchema::Unref::operator()(GSettingsSchema *schema) const
{
    g_settings_schema_unref(schema);
}

SettingsSchema::SettingsSchema(const QByteArray &schemaId)
    : m_schemaId(schemaId)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (source)
        m_schema.reset(g_settings_schema_source_lookup(source, schemaId.constData(), TRUE));
}

bool SettingsSchema::isInstalled() const
{
    return m_schema != nullptr;
}

QByteArray SettingsSchema::path() const
{
    return m_schema ? QByteArray(g_settings_schema_get_path(m_schema.get())) : QByteArray();
}

bool SettingsSchema::hasKey(const QString &key) const
{
    return m_schema && g_settings_schema_has_key(m_schema.get(), keyName(key).constData());
}

QStringList SettingsSchema::missingKeys(const QStringList &keys) const
{
    QStringList missing;
    for (const QString &key : keys) {
        if (!hasKey(key))
            missing.append(key);
    }
    return missing;
}

bool SettingsSchema::isPathAllowed(const QByteArray &schemaPath, const QByteArray &path)
{
    // An empty path makes gsettings-qt open the schema at its own path.
    if (!schemaPath.isEmpty())
        return path.isEmpty() || path == schemaPath;
    return path.startsWith('/') && path.endsWith('/') && !path.contains("//");
}

QGSettings *SettingsSchema::open(const QByteArray &path, QObject *parent) const
{
    return m_schema && isPathAllowed(this->path(), path) ? new QGSettings(m_schemaId, path, parent) : nullptr;
}

QByteArray SettingsSchema::keyName(const QString &key)
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
