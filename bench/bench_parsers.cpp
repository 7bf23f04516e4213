// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// What the daemon's readers of peer text cost beside QJsonDocument::fromJson
// of the same text: time and peak heap of one parse, for each reader, each
// shape of text and each size, as ratios to fromJson's own figures. Heap is
// counted exactly: this program puts its own malloc in front of the C
// library's. Prints a table; asserts nothing.
//
// usage: orvane-bench-parsers [--sizes 10000,100000,1000000] [--min-ms N]
//                             [--reader NAME] [--shape NAME]
#include "notices/notice_values.h"
#include "notices/payload_readers.h"
#include "peerjson/peer_json.h"
#include "session/session_facts.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include <malloc.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

// ---------------------------------------------------------------------------
// Heap accounting: the live bytes and their high-water mark.

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *pointer, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *pointer);
}

namespace {
std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};

void noteTaken(void *pointer)
{
    if (!pointer)
        return;
    const size_t live = g_live.fetch_add(malloc_usable_size(pointer), std::memory_order_relaxed)
        + malloc_usable_size(pointer);
    size_t peak = g_peak.load(std::memory_order_relaxed);
    while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
}

void noteGiven(void *pointer)
{
    if (pointer)
        g_live.fetch_sub(malloc_usable_size(pointer), std::memory_order_relaxed);
}
} // namespace

extern "C" {
void *malloc(size_t size)
{
    void *pointer = __libc_malloc(size);
    noteTaken(pointer);
    return pointer;
}
void *calloc(size_t count, size_t size)
{
    void *pointer = __libc_calloc(count, size);
    noteTaken(pointer);
    return pointer;
}
void *realloc(void *pointer, size_t size)
{
    const size_t before = pointer ? malloc_usable_size(pointer) : 0;
    void *moved = __libc_realloc(pointer, size);
    if (moved || size == 0) {
        g_live.fetch_sub(before, std::memory_order_relaxed);
        noteTaken(moved);
    }
    return moved;
}
void free(void *pointer)
{
    noteGiven(pointer);
    __libc_free(pointer);
}
void *memalign(size_t alignment, size_t size)
{
    void *pointer = __libc_memalign(alignment, size);
    noteTaken(pointer);
    return pointer;
}
void *aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}
int posix_memalign(void **out, size_t alignment, size_t size)
{
    void *pointer = memalign(alignment, size);
    if (!pointer)
        return ENOMEM;
    *out = pointer;
    return 0;
}
}

namespace {

// ---------------------------------------------------------------------------
// The shapes of text, each grown to about a given size.

QByteArray tail()
{
    return QByteArrayLiteral("\"logname\":\"alice\",\"opt\":1,\"appName\":\"Foo\",\"package_name\":\"foo\","
                             "\"name\":\"Foo\",\"Name\":\"alice\",\"Uid\":1000}");
}

// A notice as the system daemon sends it, its app name long enough.
QByteArray plain(qsizetype size)
{
    return "{\"appName\":\"" + QByteArray(std::max<qsizetype>(1, size - 120), 'x') + "\"," + tail().mid(28);
}

// One key repeated over an array, again and again.
QByteArray repeats(qsizetype size)
{
    QByteArray text("{");
    while (text.size() < size - 120)
        text += "\"a\":[],";
    return text + tail();
}

// One long key of escaped U+0000, then repeats of a key over an array.
QByteArray nulKey(qsizetype size)
{
    const qsizetype nuls = std::max<qsizetype>(1, size / 12);
    QByteArray text = "{\"" + QByteArrayLiteral("\\u0000").repeated(nuls) + "\":1,";
    while (text.size() < size - 120)
        text += "\"a\":[],";
    return text + tail();
}

// Objects nested 500 deep, each with a repeated key over an array, side by side.
QByteArray deep(qsizetype size)
{
    QByteArray one;
    for (int i = 0; i < 500; ++i)
        one += "{\"a\":[],\"a\":";
    one += "1";
    for (int i = 0; i < 500; ++i)
        one += "}";
    QByteArray text("{\"x\":[");
    while (text.size() < size - 140 - one.size())
        text += one + ",";
    text += one + "],";
    return text + tail();
}

// Many keys, each once, over arrays; one repeated at the end.
QByteArray manyKeys(qsizetype size)
{
    QByteArray text("{");
    for (int i = 0; text.size() < size - 130; ++i)
        text += "\"k" + QByteArray::number(i) + "\":[],";
    return text + "\"k0\":1," + tail();
}

struct Shape
{
    const char *name;
    QByteArray (*make)(qsizetype);
};

const Shape kShapes[] = {
    {"plain", plain}, {"repeats", repeats}, {"nul key", nulKey}, {"deep", deep}, {"many keys", manyKeys},
};

// ---------------------------------------------------------------------------
// The readers, each given the text as the daemon gets it.

struct Reader
{
    const char *name;
    std::function<void(const QByteArray &)> parse;
};

const QString kUser = QStringLiteral("alice");

std::vector<Reader> readers()
{
    return {
        {"guard", [](const QByteArray &text) { peerJson(text); }},
        {"notice", [](const QByteArray &text) { systemNoticeFor(QString::fromUtf8(text), kUser); }},
        {"upgrade entry", [](const QByteArray &text) { upgradeNoticeNames({QString::fromUtf8(text)}, false, {}); }},
        {"current user", [](const QByteArray &text) { parseCurrentUser(text); }},
        {"brief info", [](const QByteArray &text) { parseAppBriefInfo(QString::fromUtf8(text)); }},
    };
}

// What Qt itself does with the same text, given as the reader gets it.
void qtParse(const char *reader, const QByteArray &text)
{
    if (std::strcmp(reader, "guard") == 0 || std::strcmp(reader, "current user") == 0)
        QJsonDocument::fromJson(text);
    else
        QJsonDocument::fromJson(QString::fromUtf8(text).toUtf8());
}

double nowMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

struct Cost
{
    double ms; // the least CPU time of the runs: what others on the machine add is left out
    size_t peak; // bytes over what was live before
};

Cost measure(const std::function<void()> &parse, double minMs)
{
    g_peak = g_live.load();
    const size_t base = g_live.load();
    const double start = nowMs();
    parse();
    Cost cost{nowMs() - start, g_peak.load() - base};
    // Short parses are repeated to a measurable total; the least of five
    // totals is reported per parse.
    const int repeat = cost.ms > 0 ? std::max(1, int(minMs / 5 / cost.ms)) : 1000;
    if (cost.ms * 5 < 5000) {
        std::vector<double> runs;
        for (int run = 0; run < 5; ++run) {
            const double begin = nowMs();
            for (int i = 0; i < repeat; ++i)
                parse();
            runs.push_back((nowMs() - begin) / repeat);
        }
        cost.ms = *std::min_element(runs.begin(), runs.end());
    }
    return cost;
}

std::vector<qsizetype> parseSizes(const char *list)
{
    std::vector<qsizetype> sizes;
    for (const QByteArray &item : QByteArray(list).split(','))
        sizes.push_back(item.toLongLong());
    return sizes;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<qsizetype> sizes{10000, 100000, 1000000};
    double minMs = 200;
    const char *onlyReader = nullptr;
    const char *onlyShape = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--sizes") == 0)
            sizes = parseSizes(argv[i + 1]);
        else if (std::strcmp(argv[i], "--reader") == 0)
            onlyReader = argv[i + 1];
        else if (std::strcmp(argv[i], "--shape") == 0)
            onlyShape = argv[i + 1];
        else if (std::strcmp(argv[i], "--min-ms") == 0)
            minMs = std::atof(argv[i + 1]);
    }

    std::printf("peer text parsers beside QJsonDocument::fromJson (Qt %s, guard %s, bound %lld bytes)\n", qVersion(),
                kJsonKeyGuard ? "on" : "off", static_cast<long long>(kMaxPeerTextBytes));
    std::printf("%-13s %-9s %8s  %10s %10s  %10s %10s  %7s %7s\n", "reader", "shape", "bytes", "Qt ms", "Qt peak",
                "ours ms", "ours peak", "time x", "heap x");
    double worstTime = 0;
    double worstHeap = 0;
    for (const Reader &reader : readers()) {
        if (onlyReader && std::strcmp(onlyReader, reader.name) != 0)
            continue;
        for (const Shape &shape : kShapes) {
            if (onlyShape && std::strcmp(onlyShape, shape.name) != 0)
                continue;
            for (const qsizetype size : sizes) {
                const QByteArray text = shape.make(size);
                const Cost qt = measure([&] { qtParse(reader.name, text); }, minMs);
                const Cost ours = measure([&] { reader.parse(text); }, minMs);
                const double timeRatio = ours.ms / std::max(qt.ms, 1e-6);
                const double heapRatio = double(ours.peak) / double(std::max<size_t>(qt.peak, 1));
                worstTime = std::max(worstTime, timeRatio);
                worstHeap = std::max(worstHeap, heapRatio);
                std::printf("%-13s %-9s %8lld  %10.3f %9zuK  %10.3f %9zuK  %7.2f %7.2f\n", reader.name, shape.name,
                            static_cast<long long>(text.size()), qt.ms, qt.peak / 1024, ours.ms, ours.peak / 1024,
                            timeRatio, heapRatio);
                std::fflush(stdout);
            }
        }
    }
    std::printf("worst: time %.2fx, heap %.2fx of fromJson's (target: 3x each)\n", worstTime, worstHeap);
    return 0;
}
