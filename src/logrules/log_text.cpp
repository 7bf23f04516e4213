// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

#include "logrules/log_text.h"

#include <algorithm>
#include <cstring>

namespace {

const char kHex[] = "0123456789ABCDEF";

// Length of the UTF-8 sequence that starts with this byte, as far as the text
// holds its continuation bytes (a stray byte counts alone), and the code point
// it encodes; a broken sequence encodes none (U+FFFD).
int decodeAt(const unsigned char *in, int at, int size, char32_t *code)
{
    const unsigned char c = in[at];
    const int expected = c >= 0xf0 && c < 0xf8 ? 4 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xc0 && c < 0xe0 ? 2 : 1;
    int length = 1;
    while (length < expected && at + length < size && (in[at + length] & 0xc0) == 0x80)
        ++length;
    if (expected == 1) {
        *code = c < 0x80 ? c : 0xfffd;
    } else if (length < expected) {
        *code = 0xfffd;
    } else {
        *code = c & (0x7f >> expected);
        for (int i = 1; i < length; ++i)
            *code = (*code << 6) | (in[at + i] & 0x3f);
    }
    return length;
}

// Qt prints a D-Bus message it sends when QDBUS_DEBUG is set, under no
// category and with all its arguments.
bool isDBusDump(const char *category, const QString &message)
{
    return (!category || std::strcmp(category, "default") == 0)
        && message.startsWith(QLatin1String("QDBusConnectionPrivate("));
}

} // namespace

bool holdsUnsafeForLog(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return isUnsafeForLog(c.unicode()); });
}

QByteArray escapeForLog(const QByteArray &utf8, int maxBytes)
{
    const int size = utf8.size();
    const auto *in = reinterpret_cast<const unsigned char *>(utf8.constData());
    QByteArray out;
    out.reserve(qMin(size, qMax(maxBytes, 0)) + 16);
    int i = 0;
    while (i < size) {
        const unsigned char c = in[i];
        if (c >= 0x20 && c < 0x7f) {
            // Plain ASCII goes over in runs.
            int end = i + 1;
            while (end < size && in[end] >= 0x20 && in[end] < 0x7f)
                ++end;
            const int take = qMin(end - i, maxBytes - int(out.size()));
            if (take <= 0)
                break;
            out.append(utf8.constData() + i, take);
            i += take;
            if (i < end)
                break;
            continue;
        }
        // A whole character at once, so that a cut never splits one.
        char32_t code = 0;
        const int consumed = decodeAt(in, i, size, &code);
        char piece[8];
        int length = 0;
        if (consumed == 1 && (code == '\n' || code == '\r' || code == '\t')) {
            piece[0] = '\\';
            piece[1] = code == '\n' ? 'n' : code == '\r' ? 'r' : 't';
            length = 2;
        } else if (consumed == 1 && (code < 0x20 || code == 0x7f)) {
            piece[0] = '\\';
            piece[1] = 'x';
            piece[2] = kHex[code >> 4];
            piece[3] = kHex[code & 0xf];
            length = 4;
        } else if (consumed > 1 && isUnsafeForLog(code)) {
            piece[0] = '\\';
            piece[1] = 'u';
            for (int d = 0; d < 4; ++d)
                piece[2 + d] = kHex[(code >> (12 - 4 * d)) & 0xf];
            length = 6;
        } else {
            std::memcpy(piece, in + i, static_cast<size_t>(consumed));
            length = consumed;
        }
        if (out.size() + length > maxBytes)
            break;
        out.append(piece, length);
        i += consumed;
    }
    if (i < size)
        out += " [cut: " + QByteArray::number(size - i) + " bytes]";
    return out;
}

QString logMessageText(QtMsgType type, const char *category, const QString &message)
{
    if (type == QtDebugMsg && isDBusDump(category, message)
        && message.contains(QLatin1String("member=\"SetSystemProxy\""))) {
        const int contents = message.indexOf(QLatin1String("contents=("));
        const QString head = contents < 0 ? message.left(message.indexOf(QLatin1String("member=")))
                                          : message.left(contents);
        return QString::fromUtf8(escapeForLog(head.toUtf8())) + QStringLiteral("contents=(***) )");
    }
    return QString::fromUtf8(escapeForLog(message.toUtf8()));
}

QByteArray cutForLog(const QByteArray &text)
{
    if (text.size() <= kLogQuoteLimit)
        return text;
    int end = kLogQuoteLimit;
    // Back off over UTF-8 continuation bytes, at most three, so that a
    // character is never split; other bytes are cut where the limit falls.
    for (int back = 0; back < 3 && (static_cast<uchar>(text.at(end)) & 0xC0) == 0x80; ++back)
        --end;
    if ((static_cast<uchar>(text.at(end)) & 0xC0) == 0x80)
        end = kLogQuoteLimit;
    return text.left(end) + "[... cut, " + QByteArray::number(text.size()) + " bytes in all]";
}

QString cutForLog(const QString &text)
{
    // Cheap test first: every QChar takes at least one UTF-8 byte.
    if (text.size() <= kLogQuoteLimit / 3)
        return text;
    const QByteArray bytes = text.toUtf8();
    return bytes.size() <= kLogQuoteLimit ? text : QString::fromUtf8(cutForLog(bytes));
}
