// The lock service's answer to "CurrentUser", up to the login name the
// daemon takes from it and the warning it logs.
#include "dbus/payload_parsers.h"
#include "fuzz_input.h"

#include <QDebug>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = fuzzBytes(data, size);
    const CurrentUserAnswer user = parseCurrentUser(answer);

    QString line;
    QString logName;
    if (!user.parsed) {
        QDebug(&line) << "Parse CurrentUser failed:" << user.parseError << answer;
    } else if (user.hasName && !user.name.isEmpty()) {
        logName = user.name;
    } else if (user.hasUid && user.uid) {
        // The user database is asked for this id; its answer is not peer text.
        logName = QString::number(*user.uid);
    }
    volatile int sizes = line.size() + logName.size();
    (void)sizes;
    return 0;
}
