// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// A D-Bus address list from the environment, up to the socket that the
// start-up probe of the system bus would connect to.
#include "dbus/system_bus_probe.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

#include <sys/un.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString addresses = QString::fromUtf8(fuzzBytes(data, size));
    const std::optional<UnixBusSocket> socket = firstUnixBusSocket(addresses);
    if (!socket)
        return 0;
    // What the probe copies into sun_path must fit it, with room for the nul.
    FUZZ_CHECK(!socket->name.isEmpty());
    FUZZ_CHECK(socket->name.size() < int(sizeof(sockaddr_un::sun_path)));
    FUZZ_CHECK(!socket->name.contains('\0'));
    FUZZ_CHECK(addresses.trimmed().startsWith(QLatin1String("unix:")));
    return 0;
}
