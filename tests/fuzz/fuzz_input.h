// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// What the fuzz targets share: the raw input as Qt text, and the input cut
// into the fields of a target whose peer hands over several values at once.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

inline QByteArray fuzzBytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// The first count - 1 lines, then everything after them as the last field (it
// may hold further newlines). Missing fields are empty.
inline QList<QByteArray> fuzzFields(const QByteArray &input, int count)
{
    QList<QByteArray> fields;
    int start = 0;
    while (fields.size() < count - 1) {
        const int end = input.indexOf('\n', start);
        if (end < 0)
            break;
        fields.append(input.mid(start, end - start));
        start = end + 1;
    }
    fields.append(start <= input.size() ? input.mid(start) : QByteArray());
    while (fields.size() < count)
        fields.append(QByteArray());
    return fields;
}
