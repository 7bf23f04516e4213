// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "logging/log_category.h"

// No default severity: every level is on until logging rules say otherwise.
Q_LOGGING_CATEGORY(logMain, "com.orvane.app-store.session-daemon")
