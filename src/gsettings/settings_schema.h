// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// A GSettings schema as the installed schemas describe it. gsettings-qt asks
// GLib without checking first, and GLib aborts the process on an unknown
// schema, path or key; every such check is made here, on GIO directly, before
// a QGSettings is opened or asked for a key.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

class QGSettings;
class QObject;
typedef struct _GSettingsSchema GSettingsSchema;

class SettingsSchema
{
public:
    // No schema: not installed, without keys.
    SettingsSchema() = default;
    // Looks the schema up among the installed ones.
    explicit SettingsSchema(const QByteArray &schemaId);

    bool isInstalled() const;
    // The schema's own path; empty for a relocatable schema or one not installed.
    QByteArray path() const;
    // Whether the schema has the key, named in gsettings-qt's camel-case form.
    // keys() of QGSettings is not enough: it lists "level2" for a key
    // "level-2", and gsettings-qt then asks GLib for "level2".
    bool hasKey(const QString &key) const;
    // Those of keys the schema lacks, in their order (all of them when it is not installed).
    QStringList missingKeys(const QStringList &keys) const;

    // Whether GLib opens a schema whose own path is schemaPath at path: a
    // schema with a path of its own only there (an empty path names it), a
    // relocatable one only at a path given in full.
    static bool isPathAllowed(const QByteArray &schemaPath, const QByteArray &path);

    // A settings object on the schema at path (empty: its own path), or null
    // when the schema is not installed or not to be opened at path.
    QGSettings *open(const QByteArray &path, QObject *parent) const;

    // The GLib key name that gsettings-qt derives from a camel-case key.
    static QByteArray keyName(const QString &key);

private:
    struct Unref
    {
        void operator()(GSettingsSchema *schema) const;
    };

    QByteArray m_schemaId;
    std::unique_ptr<GSettingsSchema, Unref> m_schema;
};
