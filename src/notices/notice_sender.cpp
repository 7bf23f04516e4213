// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "notices/notice_sender.h"

#include "notices/notice_values.h"

#include <nuvixcore/nnotifysender.h>

void sendNotification(const NotifyValues &values)
{
    Nuvix::Core::NUtil::NNotifySender(values.summary)
        .appName(values.appName)
        .replaceId(values.replaceId)
        .appIcon(values.appIcon)
        .appBody(values.body)
        .actions(values.actions)
        .hints(values.hints)
        .timeOut(values.timeout)
        .call();
}
