#include "logging/log_category.h"

// No default severity: every level is on until logging rules say otherwise.
Q_LOGGING_CATEGORY(logMain, "com.orvane.app-store.session-daemon")
