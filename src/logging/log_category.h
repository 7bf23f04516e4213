// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The one logging category through which the whole daemon writes.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(logMain)
