// libFuzzer entry: every parser of peer text and the pure helpers on them.
// Build with clang: cmake -DORVANE_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ ...
#include "dbus/payload_parsers.h"
#include "gsettings/gsettings_watcher.h"
#include "logrules/log_rules_watcher.h"
#include "proxy/system_proxy_monitor.h"

#include <nuvixcore/nsysinfo.h>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QString text = QString::fromUtf8(bytes);

    parseSystemNotification(text);
    parseAppBriefInfo(text);
    isSafePackageName(text);
    const UpgradeAppInfo app = parseUpgradeAppInfo(text);
    upgradeNoticeBody({app.name, app.packageName, text, text});
    parseCurrentUser(bytes);
    Nuvix::Core::NSysInfo::editionTypeFromOsRelease(bytes);
    isWaylandSession(text, text);
    redactProxyPasswords(text);
    redactProxyPasswords(proxyEnvironmentText({{QStringLiteral("http_proxy"), text}}));
    LogRulesWatcher::parseLogRules(text);
    GSettingsWatcher::isPathAllowed(bytes, bytes.left(bytes.size() / 2));
    GSettingsWatcher::gsettingsKeyName(text);
    const int half = text.size() / 2;
    SystemProxyMonitor::proxyUrl(SOCKS, text.left(half), quint16(size), true, text.mid(half), text);
    return 0;
}
