// The one logging category through which the whole daemon writes.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(logMain)
