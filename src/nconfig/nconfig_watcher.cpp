// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "nconfig/nconfig_watcher.h"

#include "logging/log_category.h"

const char kNConfigAppStoreAppId[] = "orvane-app-store";
const char kNConfigAppStoreName[] = "com.orvane.app-store";

namespace {
const char kToolkitVersion[] = "5.4.21";
const QString kNotSupported = QStringLiteral("NConfig is not supported in current NUVIX version:");
} // namespace

NConfigWatcher *NConfigWatcher::m_watcher = nullptr;

NConfigWatcher *NConfigWatcher::instance()
{
    if (!m_watcher)
        m_watcher = new NConfigWatcher(nullptr);
    return m_watcher;
}

NConfigWatcher::NConfigWatcher(QObject *parent)
    : QObject(parent)
{
    addNConfig(QString::fromLatin1(kNConfigAppStoreAppId), QString::fromLatin1(kNConfigAppStoreName), QString());
}

NConfigWatcher::~NConfigWatcher() = default;

// Each message opens with the operation's signature, printed unquoted, then the
// notice (a string object, hence quoted) and the toolkit version.
bool NConfigWatcher::addNConfig(QString, const QString &, const QString &)
{
    qCCritical(logMain) << Q_FUNC_INFO << kNotSupported << kToolkitVersion;
    return false;
}

void NConfigWatcher::removeNConfig(QString, const QString &, const QString &)
{
    qCCritical(logMain) << Q_FUNC_INFO << kNotSupported << kToolkitVersion;
}

QVariant NConfigWatcher::getValueSync(QString, const QString &, const QString &, const QString &)
{
    qCCritical(logMain) << Q_FUNC_INFO << kNotSupported << kToolkitVersion;
    return QVariant();
}

void NConfigWatcher::getValueAsync(QString appId, const QString &name, const QString &subpath, const QString &key)
{
    // The value is always invalid here, and an invalid value is never handed on.
    const QVariant value = getValueSync(appId, name, subpath, key);
    if (value.isValid())
        Q_EMIT sigValueChanged(appId, name, subpath, key, value);
}

void NConfigWatcher::setValue(QString, const QString &, const QString &, const QString &, const QVariant &)
{
    qCCritical(logMain) << Q_FUNC_INFO << kNotSupported << kToolkitVersion;
}

void NConfigWatcher::slotValueChanged(const QString &)
{
}
