// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Scope guard: runs its function when the scope it lives in ends, however it ends.
#pragma once

#include <functional>
#include <utility>

class Guard
{
public:
    explicit Guard(std::function<void()> onExit)
        : m_onExit(std::move(onExit))
    {
    }
    ~Guard()
    {
        if (m_onExit)
            m_onExit();
    }

    Guard(const Guard &) = delete;
    Guard &operator=(const Guard &) = delete;

private:
    std::function<void()> m_onExit;
};
