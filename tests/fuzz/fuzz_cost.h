// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// What a reader of peer text costs in memory beside Qt's own parse of the same
// text: the peak of the bytes each holds at once, counted by the sanitizer
// runtime's allocation hooks. A reader whose memory grows faster than its
// text (a repeated key renamed to a name as long as the longest key, say)
// breaks the bound on an input of a few KiB already, long before it takes the
// process down, and whatever the machine's load. Without a sanitizer runtime
// (the replay programs of the ordinary build) nothing is counted and the
// bound holds trivially.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <utility>

extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void *, size_t),
                                              void (*freeHook)(const volatile void *)) __attribute__((weak));
size_t __sanitizer_get_allocated_size(const volatile void *pointer) __attribute__((weak));
void __lsan_disable() __attribute__((weak));
void __lsan_enable() __attribute__((weak));
}

namespace fuzzcost {
// The bytes held, and the most held since the last reset. The targets parse
// on one thread; the hooks run on every thread and stay cheap.
inline std::atomic<long long> held{0};
inline std::atomic<long long> peak{0};
inline void onMalloc(const volatile void *, size_t size)
{
    const long long now = held.fetch_add(static_cast<long long>(size), std::memory_order_relaxed)
        + static_cast<long long>(size);
    if (now > peak.load(std::memory_order_relaxed))
        peak.store(now, std::memory_order_relaxed);
}
inline void onFree(const volatile void *pointer)
{
    // Called before the block is given back, while its size is known.
    held.fetch_sub(static_cast<long long>(__sanitizer_get_allocated_size(pointer)), std::memory_order_relaxed);
}
inline bool installed()
{
    static const bool hooks = __sanitizer_install_malloc_and_free_hooks != nullptr
        && __sanitizer_get_allocated_size != nullptr
        && __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree) != 0;
    return hooks;
}
} // namespace fuzzcost

// The most bytes held at once while step runs, beyond what was held before
// (0 when nothing can be counted).
template<typename Step>
size_t fuzzPeakOf(Step &&step)
{
    if (!fuzzcost::installed()) {
        std::forward<Step>(step)();
        return 0;
    }
    const long long before = fuzzcost::held.load(std::memory_order_relaxed);
    fuzzcost::peak.store(before, std::memory_order_relaxed);
    std::forward<Step>(step)();
    const long long most = fuzzcost::peak.load(std::memory_order_relaxed) - before;
    return most > 0 ? static_cast<size_t>(most) : 0;
}

// The peak of Qt's own parse, run by step. Qt 5.15.8 loses a dropped value of
// a repeated key for good (the daemon's reader guards against it): that loss
// is Qt's, not a leak of the target, and is not reported.
template<typename Step>
size_t fuzzPeakOfQt(Step &&step)
{
    if (__lsan_disable != nullptr)
        __lsan_disable();
    const size_t bytes = fuzzPeakOf(std::forward<Step>(step));
    if (__lsan_enable != nullptr)
        __lsan_enable();
    return bytes;
}

namespace fuzzcost {
// One function per step of the cost ratio: each is code of its own to the
// fuzzer's coverage, so reaching a step no input reached before counts as
// new coverage.
inline volatile int lastStep = 0;
template<int Step>
__attribute__((noinline)) void reached()
{
    lastStep = Step;
}
template<int... Steps>
void reach(int step, std::integer_sequence<int, Steps...>)
{
    ((step == Steps ? reached<Steps>() : void()), ...);
}
} // namespace fuzzcost

// The bound of a reader's peak memory: ten times its share, plus room for the
// fixed cost of the values it keeps. Its share is the peak of Qt's own parse
// of the same text, or, where Qt gives up on the text early, sixteen bytes per
// byte of text: what a reader that looks at the whole text may hold of it (a
// record per key of three bytes, in a vector that grows by doubling).
//
// The ratio to the share, in quarter steps, is also made coverage: an input
// that costs the reader more per byte than any before is kept, and the fuzzer
// climbs towards a text whose cost grows faster than its length, which it
// would otherwise only meet by chance past the bound.
inline bool fuzzWithinShare(size_t own, size_t qt, size_t textSize)
{
    constexpr size_t kFixed = 16 * 1024;
    constexpr int kSteps = 48;
    const size_t share = std::max(qt, 16 * textSize);
    const size_t ratio = share == 0 ? 0 : 4 * own / share;
    fuzzcost::reach(int(std::min<size_t>(ratio, kSteps - 1)), std::make_integer_sequence<int, kSteps>());
    return own <= 10 * share + kFixed;
}
