// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The one way a notice leaves the daemon: through the desktop toolkit's
// notification builder, without waiting for the server's reply.
#pragma once

struct NotifyValues;

void sendNotification(const NotifyValues &values);
