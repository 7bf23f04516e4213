// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "peerjson/peer_json.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// The characters of a JSON string's content with its escapes resolved, read
// straight from the bytes between its quotes, as UTF-16 units. A byte that is
// not part of UTF-8 and a broken "\u" escape read as values above any unit
// (0x10000 and up): fromJson refuses both, so such a key never equals one it
// accepts, and reading them stays in bounds.
class KeyUnits
{
public:
    KeyUnits(const char *begin, const char *end)
        : m_p(begin)
        , m_end(end)
    {
    }

    bool next(char32_t &unit)
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
    static constexpr char32_t kRefused = 0x10000;

    char32_t escaped()
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
            return uchar(c); // fromJson takes any other escaped character as itself
        }
        if (m_end - m_p < 4)
            return kRefused | 'u';
        char32_t value = 0;
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
                return kRefused | 'u';
            value = value << 4 | char32_t(digit);
        }
        m_p += 4;
        return value;
    }

    char32_t decoded(uchar lead)
    {
        int extra;
        char32_t codePoint;
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
            return kRefused | lead;
        }
        if (m_end - m_p < extra)
            return kRefused | lead;
        for (int i = 0; i < extra; ++i) {
            const uchar next = uchar(m_p[i]);
            if ((next & 0xC0) != 0x80)
                return kRefused | lead;
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        if (codePoint > 0x10FFFF)
            return kRefused | lead;
        m_p += extra;
        if (codePoint < 0x10000)
            return codePoint;
        m_low = QChar::lowSurrogate(codePoint);
        return QChar::highSurrogate(codePoint);
    }

    const char *m_p;
    const char *m_end;
    char32_t m_low = 0; // the second half of a surrogate pair, still to come
};

// One member of an object: where its key, its value and the comma after it
// are. Kept small, as a text may hold one in every five bytes; offsets count
// from the key's opening quote, text positions fit in 32 bits (checked).
struct Member
{
    qsizetype begin; // the key's opening quote
    qint32 keyEnd; // just after its closing quote
    qint32 value; // the first byte of the value
    qint32 end = -1; // just after the comma that ends the member; -1: none seen
    qint32 object; // objects are numbered as they open
    uint hash; // of the unescaped key
    bool container; // the value is an array or an object
    bool separated; // exactly one ":" between key and value
    bool shadowed = false;

    qsizetype at(qint32 offset) const { return begin + offset; }
};

uint keyHash(const char *begin, const char *end)
{
    KeyUnits units(begin, end);
    uint hash = 2166136261u;
    char32_t unit;
    while (units.next(unit))
        hash = (hash ^ unit) * 16777619u;
    return hash;
}

int compareKeys(const char *data, const Member &a, const Member &b)
{
    KeyUnits left(data + a.begin + 1, data + a.at(a.keyEnd) - 1);
    KeyUnits right(data + b.begin + 1, data + b.at(b.keyEnd) - 1);
    for (;;) {
        char32_t l = 0;
        char32_t r = 0;
        const bool hasLeft = left.next(l);
        const bool hasRight = right.next(r);
        if (!hasLeft || !hasRight)
            return int(hasLeft) - int(hasRight);
        if (l != r)
            return l < r ? -1 : 1;
    }
}

// fromJson refuses text nested deeper than this (seen with 5.15.8).
constexpr size_t kQtNestingLimit = 1024;

// Of a run of members with one key, in text order, marks every member but the
// last as shadowed when any of them holds a container.
void markShadowed(std::vector<Member>::iterator first, std::vector<Member>::iterator last)
{
    if (std::any_of(first, last, [](const Member &m) { return m.container; }))
        std::for_each(first, last - 1, [](Member &m) { m.shadowed = true; });
}

// The members whose array or object value (or plain value) fromJson would
// drop for a later value of the same key, in text order.
std::vector<Member> shadowedMembers(const QByteArray &json)
{
    // One pass notes every member with its object and whether its value opens
    // a container; sorting then brings the repeats of a key together. Text
    // that is not JSON is read leniently, so that nothing fromJson reads
    // before it stops is missed.
    //
    // Without a "[" and with only one "{" in the whole text no value can be a
    // container, and no key can lose one: the common payload skips the pass.
    // (memchr: QByteArray::indexOf of Qt 5 reads byte by byte.)
    const char *const data = json.constData();
    const qsizetype size = json.size();
    if (size > std::numeric_limits<qint32>::max())
        return {}; // more than fromJson of Qt 5 takes
    const auto *firstBrace = static_cast<const char *>(std::memchr(data, '{', size_t(size)));
    if (!std::memchr(data, '[', size_t(size))
        && (!firstBrace || !std::memchr(firstBrace + 1, '{', size_t(data + size - firstBrace - 1))))
        return {};

    struct Frame
    {
        qsizetype object; // -1: an array
        qsizetype member; // index of the object's last member in members, -1: none yet
        bool expectingKey;
    };
    std::vector<Frame> frames;
    std::vector<Member> members;
    bool anyContainer = false;
    qsizetype objects = 0;
    bool pending = false; // a key whose value has not started yet
    int colons = 0;
    Member key{};

    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c == ':') {
            colons += pending;
            continue;
        }
        if (pending) {
            key.value = qint32(i - key.begin);
            key.container = c == '{' || c == '[';
            key.separated = colons == 1;
            anyContainer = anyContainer || key.container;
            frames.back().member = qsizetype(members.size());
            members.push_back(key);
            pending = false;
        }
        if (c == '"') {
            qsizetype end = i + 1;
            while (end < size && data[end] != '"')
                end += data[end] == '\\' ? 2 : 1;
            if (end >= size)
                break; // unterminated
            if (!frames.empty() && frames.back().object >= 0 && frames.back().expectingKey) {
                frames.back().expectingKey = false;
                key = Member{i,
                             qint32(end + 1 - i),
                             -1,
                             -1,
                             qint32(frames.back().object),
                             keyHash(data + i + 1, data + end),
                             false,
                             false};
                pending = true;
                colons = 0;
            }
            i = end;
        } else if (c == '{' || c == '[') {
            // fromJson reads no further: a member cut before here ends
            // before here, and what is too deep stays in the rest.
            if (frames.size() == kQtNestingLimit)
                break;
            frames.push_back(c == '{' ? Frame{objects++, -1, true} : Frame{-1, -1, false});
        } else if (c == '}' || c == ']') {
            if (!frames.empty())
                frames.pop_back();
        } else if (c == ',' && !frames.empty() && frames.back().object >= 0) {
            frames.back().expectingKey = true;
            if (frames.back().member >= 0) {
                Member &last = members[size_t(frames.back().member)];
                last.end = qint32(i + 1 - last.begin);
            }
            frames.back().member = -1;
        }
    }
    if (!anyContainer)
        return {};

    // By object and key hash, in text order within each: plain numbers to
    // compare. A run of one hash is almost always one key; when it is not,
    // the run is sorted by the keys themselves.
    std::sort(members.begin(), members.end(), [](const Member &a, const Member &b) {
        if (a.object != b.object)
            return a.object < b.object;
        return a.hash != b.hash ? a.hash < b.hash : a.begin < b.begin;
    });
    const auto byKey = [data](const Member &a, const Member &b) { return compareKeys(data, a, b) < 0; };
    // fromJson keeps one value of a repeated key and loses a dropped array or
    // object for good; which one it keeps is the last in text order only
    // while the object is small, since it sorts larger ones without keeping
    // their order (seen with 5.15.8: an object of 27 members lost its last
    // array). So when any value of a repeated key is a container, every
    // member with that key but the last is cut: fromJson then meets no repeat
    // of that key at all.
    for (auto first = members.begin(); first != members.end();) {
        auto last = std::find_if(first, members.end(), [first](const Member &m) {
            return m.object != first->object || m.hash != first->hash;
        });
        if (last - first > 1) {
            if (!std::all_of(first + 1, last, [&](const Member &m) { return compareKeys(data, *first, m) == 0; }))
                std::stable_sort(first, last, byKey);
            for (auto run = first; run != last;) {
                const auto runEnd = std::upper_bound(run, last, *run, byKey);
                markShadowed(run, runEnd);
                run = runEnd;
            }
        }
        first = last;
    }
    // Kept in place: a second list would double what the scan holds.
    members.erase(std::remove_if(members.begin(), members.end(), [](const Member &m) { return !m.shadowed; }),
                  members.end());
    std::sort(members.begin(), members.end(), [](const Member &a, const Member &b) { return a.begin < b.begin; });
    return members;
}

// Appends text[from, to) but the cut members that begin in it, each with all
// it holds: a member's region holds every member nested in its value, and
// skip[i] is the first member after member i that lies outside it.
void appendUncut(QByteArray &out, const QByteArray &text, qsizetype from, qsizetype to, const std::vector<Member> &cut,
                 const std::vector<size_t> &skip, size_t next)
{
    while (next < cut.size() && cut[next].begin < to) {
        out.append(text.constData() + from, cut[next].begin - from);
        from = cut[next].at(cut[next].end);
        next = skip[next];
    }
    out.append(text.constData() + from, to - from);
}

} // namespace

bool isPeerTextTooLong(const QString &text)
{
    // UTF-8 takes at least one byte and at most three per UTF-16 unit.
    if (text.size() > kMaxPeerTextBytes)
        return true;
    if (text.size() * 3 <= kMaxPeerTextBytes)
        return false;
    qsizetype bytes = 0;
    for (const QChar c : text) {
        const ushort unit = c.unicode();
        bytes += unit < 0x80 ? 1 : unit < 0x800 || c.isSurrogate() ? 2 : 3;
    }
    return bytes > kMaxPeerTextBytes;
}

QString peerTextTooLongError()
{
    return QStringLiteral("longer than %1 bytes").arg(kMaxPeerTextBytes);
}

QJsonDocument peerJson(const QByteArray &text, QString *errorText)
{
    QJsonParseError error{};
    const auto fail = [&error, errorText] {
        if (errorText)
            *errorText = error.errorString();
        return QJsonDocument();
    };
    std::vector<Member> cut;
    if (kJsonKeyGuard)
        cut = shadowedMembers(text);
    // A member whose key and value are not one ":" apart, or that has no
    // value, makes the text fail where it stands: left in, it fails the text
    // as fromJson fails it.
    cut.erase(std::remove_if(cut.begin(), cut.end(),
                             [](const Member &m) { return !m.separated || m.end < 0 || m.end - 1 <= m.value; }),
              cut.end());
    if (cut.empty()) {
        QJsonDocument document = QJsonDocument::fromJson(text, &error);
        if (errorText)
            *errorText = error.errorString();
        return document;
    }

    // The text is parsed with the shadowed members cut out of it, and what
    // was cut is parsed on its own so that text which does not parse still
    // fails: their keys as an array of strings, then their values (less what
    // was cut from them in turn) as an array. Each byte of the text goes to
    // one of the three, and none of them repeats a key over a container.
    std::vector<size_t> skip(cut.size());
    for (size_t i = cut.size(); i-- > 0;) {
        size_t next = i + 1;
        while (next < cut.size() && cut[next].begin < cut[i].at(cut[i].end))
            next = skip[next];
        skip[i] = next;
    }
    QJsonDocument document;
    {
        QByteArray rest;
        rest.reserve(text.size());
        appendUncut(rest, text, 0, text.size(), cut, skip, 0);
        document = QJsonDocument::fromJson(rest, &error);
    }
    // Where the rest fails, fromJson stops early: the cut part need not be read.
    if (error.error != QJsonParseError::NoError)
        return fail();
    QByteArray keys("[");
    for (const Member &member : cut)
        keys.append(text.constData() + member.begin, member.keyEnd).append(',');
    keys[keys.size() - 1] = ']';
    QJsonDocument::fromJson(keys, &error);
    keys = QByteArray();
    if (error.error != QJsonParseError::NoError)
        return fail();
    QByteArray values("[");
    for (size_t i = 0; i < cut.size(); ++i) {
        appendUncut(values, text, cut[i].at(cut[i].value), cut[i].at(cut[i].end) - 1, cut, skip, i + 1);
        values.append(',');
    }
    values[values.size() - 1] = ']';
    QJsonDocument::fromJson(values, &error);
    if (error.error != QJsonParseError::NoError)
        return fail();
    if (errorText)
        *errorText = error.errorString();
    return document;
}

bool jsonHasDuplicateContainerKey(const QByteArray &json)
{
    return !shadowedMembers(json).empty();
}
