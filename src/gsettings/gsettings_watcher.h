// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Process-wide registry of GSettings objects, one per (schema id, path), whose
// change notifications are folded into the one signal sigValueChanged.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>

class QGSettings;

extern const char kGSettingsAppStoreSchemaId[];
extern const char kGSettingsAppStorePath[];

class GSettingsWatcher : public QObject
{
    Q_OBJECT

public:
    static GSettingsWatcher *instance();

    explicit GSettingsWatcher(QObject *parent = nullptr);
    ~GSettingsWatcher() override;

    bool addSchema(const QByteArray &schemaId, const QByteArray &path);
    void removeSchema(const QByteArray &schemaId, const QByteArray &path);
    void setValue(const QByteArray &schemaId, const QByteArray &path, const QString &key, const QVariant &value);
    QVariant getValueSync(const QByteArray &schemaId, const QByteArray &path, const QString &key) const;
    void getValueAsync(const QByteArray &schemaId, const QByteArray &path, const QString &key);

    // Whether GLib lets a schema whose own path is schemaPath (null for a
    // relocatable schema) be opened at path; it aborts the process otherwise.
    static bool isPathAllowed(const QByteArray &schemaPath, const QByteArray &path);

Q_SIGNALS:
    void sigValueChanged(const QByteArray &schemaId, const QByteArray &path, const QString &key, const QVariant &value);

private Q_SLOTS:
    void slotValueChanged(const QString &key);

private:
    enum class LookupFailure { None, NotRegistered, NoSuchKey };
    struct Lookup
    {
        QGSettings *settings;
        LookupFailure failure;
    };
    // Logs nothing: the caller's warning names the operation that failed.
    Lookup findSettings(const QByteArray &schemaId, const QByteArray &path, const QString &key) const;

    static GSettingsWatcher *m_gsettingsWatcher;

    QMap<QPair<QByteArray, QByteArray>, QGSettings *> m_gsettingsMap;
};
