// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Access point to the toolkit's key-value configuration facility. The toolkit
// version in use does not offer it, so every operation reports that and
// answers with a neutral result.
#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

extern const char kNConfigAppStoreAppId[];
extern const char kNConfigAppStoreName[];

class NConfigWatcher : public QObject
{
    Q_OBJECT

public:
    static NConfigWatcher *instance();

    explicit NConfigWatcher(QObject *parent = nullptr);
    ~NConfigWatcher() override;

    bool addNConfig(QString appId, const QString &name, const QString &subpath);
    void removeNConfig(QString appId, const QString &name, const QString &subpath);
    QVariant getValueSync(QString appId, const QString &name, const QString &subpath, const QString &key);
    void getValueAsync(QString appId, const QString &name, const QString &subpath, const QString &key);
    void setValue(QString appId, const QString &name, const QString &subpath, const QString &key,
                  const QVariant &value);

Q_SIGNALS:
    void sigValueChanged(const QString &appId, const QString &name, QString subpath, const QString &key,
                         const QVariant &value);

private Q_SLOTS:
    void slotValueChanged(const QString &key);

private:
    static NConfigWatcher *m_watcher;
};
