// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Facts about the operating system the toolkit reports.
#pragma once

namespace Nuvix {
namespace Core {

class NSysInfo
{
public:
    // The edition code of the operating system.
    static int veskEditionType();

    NSysInfo() = delete;
};

} // namespace Core
} // namespace Nuvix
