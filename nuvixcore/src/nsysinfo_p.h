// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// The stand-in's own business behind NSysInfo, for its tests and fuzz target;
// never installed. veskEditionType() reads the NUVIX_EDITION_TYPE= field of
// the os-release file (/etc/os-release, or the file named by NUVIX_OS_RELEASE).
#pragma once

class QByteArray;

namespace Nuvix {
namespace Core {

// The NUVIX_EDITION_TYPE= field of os-release text; 0 when missing or not an integer.
int editionTypeFromOsRelease(const QByteArray &osRelease);

} // namespace Core
} // namespace Nuvix
