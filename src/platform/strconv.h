// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Text conversions the program shares: the integer conversion used for settings and for the
// stop time, and the Shift-JIS (CP932) byte view that text lengths are measured in.
#pragma once

#include <QByteArray>
#include <QString>

// Leading blanks, an optional "+" or "-", then decimal digits, or hexadecimal digits after
// "$", "x", "X", "0x" or "0X". Nothing may follow the digits. Fails on an empty text and on
// a value outside the signed 32-bit range; *out is left alone on failure.
bool tryStrToInt(const QString &s, qint32 *out);
qint32 strToIntDef(const QString &s, qint32 def);

// CP932 bytes of the text; a character the code page lacks becomes "?".
QByteArray toSjis(const QString &s);
// Invalid byte sequences become U+FFFD.
QString fromSjis(const QByteArray &bytes);
// Length of the text in CP932 bytes: ASCII and half-width katakana count 1, the rest 2.
int sjisLength(const QString &s);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const QByteArray &bytes);
