// SPDX-FileCopyrightText: 2026 Orvane
// SPDX-License-Identifier: GPL-3.0-or-later

// Peer JSON: the one way text from a bus peer becomes a QJsonDocument: a bound
// on its size, and the guard against QJsonDocument::fromJson losing the value
// of a repeated key.
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>
#include <QtGlobal>

// The longest peer text that is parsed, in bytes of UTF-8. The system daemon's
// notices and upgrade-list entries and the lock service's answer are a few
// hundred bytes; a text past this bound is refused unread, as one that does not
// parse, so that no peer text costs more than a bounded parse.
inline constexpr qsizetype kMaxPeerTextBytes = 64 * 1024;

// Whether text is longer than kMaxPeerTextBytes in UTF-8, decided without
// converting a long one.
bool isPeerTextTooLong(const QString &text);
// What a reader gives as its parse error for such a text.
QString peerTextTooLongError();

// Whether the text holds an object in which a key (compared unescaped) comes
// more than once and at least one of its values is an array or an object.
// QJsonDocument::fromJson of Qt 5.15.8 keeps one value of such a key and loses
// a dropped array or object for good (which one it keeps is the last only in
// small objects), so peer text like that is parsed with every occurrence but
// the last cut out (kJsonKeyGuard). A key repeated over
// plain values only is not reported: the parse loses nothing. Text that is not
// JSON is scanned as far as it goes; the answer is only meaningful for what
// fromJson would accept or read before it stops.
bool jsonHasDuplicateContainerKey(const QByteArray &json);

// Whether peer JSON is parsed with the guard above: for the Qt releases whose
// fromJson leaks on such text. Seen leaking with 5.15.8 (Debian 12), not with
// 5.15.15 or 6.8.2 (Debian 13); the releases in between were not tried and
// keep the guard. tests/notices notices_json_key_leak says whether the Qt at
// hand leaks. The build option ORVANE_JSON_KEY_GUARD=ON or OFF overrides the
// version test.
#if defined(ORVANE_JSON_KEY_GUARD)
inline constexpr bool kJsonKeyGuard = ORVANE_JSON_KEY_GUARD;
#else
inline constexpr bool kJsonKeyGuard = QT_VERSION < QT_VERSION_CHECK(5, 15, 15);
#endif

// QJsonDocument::fromJson for peer text (of any size: the readers bound it).
// Where fromJson would lose the dropped value of a repeated key for good
// (kJsonKeyGuard), every member with such a key but the last is cut out of
// the text before it is parsed: what is left is what fromJson gives, a
// repeated key with its last value. What was cut is parsed on its own, so
// that text which does not parse still fails (errorText then names one of its
// faults, not always the first). The cost stays linear in the text: each byte
// is parsed once. errorText gets fromJson's error, "no error" included.
QJsonDocument peerJson(const QByteArray &text, QString *errorText = nullptr);
