// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "peerjson/peer_json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <vector>

namespace {

// One key of an object, as the bytes between its quotes.
struct KeySpan
{
    int object; // objects are numbered as they open
    uint hash; // of the unescaped key
    int begin;
    int end;
    bool container; // its value is an array or an object
};

// The UTF-16 units of a JSON string's content with its escapes resolved, read
// straight from the bytes between its quotes. A byte that is not part of
// UTF-8 and a broken "\u" escape read as units of their own: fromJson refuses
// both, so all that matters is that reading them stays in bounds.
class KeyUnits
{
public:
    KeyUnits(const char *begin, const char *end)
        : m_p(begin)
        , m_end(end)
    {
    }

    bool next(char16_t &unit)
    {
        if (m_low) {
            unit = m_low;
            m_low = 0;
            return true;
        }
        if (m_p == m_end)
            return false;
        const uchar c = uchar(*m_p++);
        if (c == '\\')
            unit = escaped();
        else if (c < 0x80)
            unit = c;
        else
            unit = decoded(c);
        return true;
    }

private:
    char16_t escaped()
    {
        if (m_p == m_end)
            return u'\\';
        const char c = *m_p++;
        switch (c) {
        case 'b':
            return u'\b';
        case 'f':
            return u'\f';
        case 'n':
            return u'\n';
        case 'r':
            return u'\r';
        case 't':
            return u'\t';
        case 'u':
            break;
        default:
            return char16_t(uchar(c)); // fromJson takes any other escaped character as itself
        }
        if (m_end - m_p < 4)
            return 0xDC00 | 'u';
        char16_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = m_p[i];
            int digit;
            if (h >= '0' && h <= '9')
                digit = h - '0';
            else if (h >= 'a' && h <= 'f')
                digit = h - 'a' + 10;
            else if (h >= 'A' && h <= 'F')
                digit = h - 'A' + 10;
            else
                return 0xDC00 | 'u';
            value = char16_t(value << 4 | digit);
        }
        m_p += 4;
        return value;
    }

    char16_t decoded(uchar lead)
    {
        int extra;
        uint codePoint;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            codePoint = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            codePoint = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            codePoint = lead & 0x07;
        } else {
            return 0xDC00 | lead;
        }
        if (m_end - m_p < extra)
            return 0xDC00 | lead;
        for (int i = 0; i < extra; ++i) {
            const uchar next = uchar(m_p[i]);
            if ((next & 0xC0) != 0x80)
                return 0xDC00 | lead;
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        if (codePoint > 0x10FFFF)
            return 0xDC00 | lead;
        m_p += extra;
        if (codePoint < 0x10000)
            return char16_t(codePoint);
        m_low = QChar::lowSurrogate(codePoint);
        return QChar::highSurrogate(codePoint);
    }

    const char *m_p;
    const char *m_end;
    char16_t m_low = 0; // the second half of a surrogate pair, still to come
};

uint keyHash(const char *begin, const char *end)
{
    KeyUnits units(begin, end);
    uint hash = 2166136261u;
    char16_t unit;
    while (units.next(unit))
        hash = (hash ^ unit) * 16777619u;
    return hash;
}

int compareKeys(const char *data, const KeySpan &a, const KeySpan &b)
{
    KeyUnits left(data + a.begin, data + a.end);
    KeyUnits right(data + b.begin, data + b.end);
    for (;;) {
        char16_t l = 0;
        char16_t r = 0;
        const bool hasLeft = left.next(l);
        const bool hasRight = right.next(r);
        if (!hasLeft || !hasRight)
            return int(hasLeft) - int(hasRight);
        if (l != r)
            return l < r ? -1 : 1;
    }
}

// fromJson gives up far less deep than this.
constexpr size_t kMaxScanDepth = 4096;

// The keys of a text, sorted by object and name, and those of them whose
// array or object value fromJson drops for a later value of the same key, in
// text order.
struct KeyScan
{
    std::vector<KeySpan> keys;
    std::vector<KeySpan> shadowed;
};
KeyScan scanKeys(const QByteArray &json);

// Number of U+0000 units a key starts with.
int leadingNuls(const char *data, const KeySpan &key)
{
    KeyUnits units(data + key.begin, data + key.end);
    int count = 0;
    char16_t unit;
    while (units.next(unit) && unit == 0)
        ++count;
    return count;
}

void dropKeysWithPrefix(QJsonValueRef value, const QString &prefix);

void dropKeysWithPrefix(QJsonObject &object, const QString &prefix)
{
    for (auto it = object.begin(); it != object.end();) {
        if (it.key().startsWith(prefix)) {
            it = object.erase(it);
        } else {
            dropKeysWithPrefix(it.value(), prefix);
            ++it;
        }
    }
}

void dropKeysWithPrefix(QJsonValueRef value, const QString &prefix)
{
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        dropKeysWithPrefix(object, prefix);
        value = object;
    } else if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i)
            dropKeysWithPrefix(array[i], prefix);
        value = array;
    }
}

KeyScan scanKeys(const QByteArray &json)
{
    KeyScan scan;
    // One pass notes every key with its object and whether its value opens a
    // container; sorting then brings the repeats of a key together. Text that
    // is not JSON is read leniently, so that nothing fromJson reads before it
    // stops is missed.
    //
    // Without a "[" and with only one "{" in the whole text no value can be a
    // container, and no key can lose one: the common payload skips the pass.
    if (!json.contains('[') && json.count('{') <= 1)
        return scan;

    struct Frame
    {
        int object; // -1: an array
        bool expectingKey;
    };
    std::vector<Frame> frames;
    std::vector<KeySpan> &keys = scan.keys;
    bool anyContainer = false;
    int objects = 0;
    bool pending = false; // a key whose value has not started yet
    KeySpan pendingKey{};

    const char *const data = json.constData();
    const int size = json.size();
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ':')
            continue;
        if (pending) {
            pendingKey.container = c == '{' || c == '[';
            anyContainer = anyContainer || pendingKey.container;
            keys.push_back(pendingKey);
            pending = false;
        }
        if (c == '"') {
            const int begin = i + 1;
            int end = begin;
            while (end < size && data[end] != '"')
                end += data[end] == '\\' ? 2 : 1;
            if (end >= size)
                break; // unterminated
            i = end;
            if (!frames.empty() && frames.back().object >= 0 && frames.back().expectingKey) {
                frames.back().expectingKey = false;
                pendingKey = KeySpan{frames.back().object, keyHash(data + begin, data + end), begin, end, false};
                pending = true;
            }
        } else if (c == '{' || c == '[') {
            if (frames.size() == kMaxScanDepth)
                break;
            frames.push_back(c == '{' ? Frame{objects++, true} : Frame{-1, false});
        } else if (c == '}' || c == ']') {
            if (!frames.empty())
                frames.pop_back();
        } else if (c == ',') {
            if (!frames.empty() && frames.back().object >= 0)
                frames.back().expectingKey = true;
        }
    }
    if (!anyContainer)
        return scan;

    std::sort(keys.begin(), keys.end(), [data](const KeySpan &a, const KeySpan &b) {
        if (a.object != b.object)
            return a.object < b.object;
        if (a.hash != b.hash)
            return a.hash < b.hash;
        const int order = compareKeys(data, a, b);
        return order != 0 ? order < 0 : a.begin < b.begin;
    });
    // Within a run of equal keys the text order holds. fromJson keeps one
    // value of a repeated key and loses a dropped array or object for good;
    // which one it keeps is the last in text order only while the object is
    // small, since it sorts larger ones without keeping their order (seen
    // with 5.15.8: an object of 27 members lost its last array). So when any
    // value of a repeated key is a container, every occurrence but the last
    // is renamed away: fromJson then meets no repeat of that key at all.
    for (size_t first = 0; first < keys.size();) {
        size_t end = first + 1;
        bool container = keys[first].container;
        while (end < keys.size() && keys[end].object == keys[first].object && keys[end].hash == keys[first].hash
               && compareKeys(data, keys[first], keys[end]) == 0) {
            container = container || keys[end].container;
            ++end;
        }
        if (container) {
            for (size_t i = first; i + 1 < end; ++i)
                scan.shadowed.push_back(keys[i]);
        }
        first = end;
    }
    std::sort(scan.shadowed.begin(), scan.shadowed.end(),
              [](const KeySpan &a, const KeySpan &b) { return a.begin < b.begin; });
    return scan;
}
} // namespace

QJsonDocument peerJson(const QByteArray &text, QString *errorText)
{
    QJsonParseError error;
    KeyScan scan;
    if (kJsonKeyGuard)
        scan = scanKeys(text);
    const std::vector<KeySpan> &shadowed = scan.shadowed;
    if (shadowed.empty()) {
        QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (errorText)
            *errorText = error.errorString();
        return document;
    }

    // The scan sees every key fromJson reads.
    int nuls = 0;
    for (const KeySpan &key : scan.keys)
        nuls = std::max(nuls, leadingNuls(text.constData(), key));
    const QString prefix(nuls + 1, QChar(0));
    const QByteArray escapedPrefix = QByteArrayLiteral("\\u0000").repeated(nuls + 1);

    QByteArray renamed;
    renamed.reserve(text.size() + int(shadowed.size()) * (escapedPrefix.size() + 12));
    int copied = 0;
    int counter = 0;
    for (const KeySpan &key : shadowed) {
        renamed.append(text.constData() + copied, key.begin - copied);
        renamed += escapedPrefix + QByteArray::number(counter++) + '.';
        copied = key.begin;
    }
    renamed.append(text.constData() + copied, text.size() - copied);

    QJsonDocument document = QJsonDocument::fromJson(renamed, &error);
    if (errorText)
        *errorText = error.errorString();
    if (document.isObject()) {
        QJsonObject object = document.object();
        dropKeysWithPrefix(object, prefix);
        document.setObject(object);
    } else if (document.isArray()) {
        QJsonArray array = document.array();
        for (int i = 0; i < array.size(); ++i)
            dropKeysWithPrefix(array[i], prefix);
        document.setArray(array);
    }
    return document;
}

bool jsonHasDuplicateContainerKey(const QByteArray &json)
{
    return !scanKeys(json).shadowed.empty();
}
