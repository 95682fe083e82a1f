// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Small text routines of the recorder. Lengths are counted in Shift-JIS bytes, the way the
// program's texts have always been measured.
#pragma once

#include <QString>

// Field n (from 1) of a comma-separated text; empty when there are fewer fields.
QString CommaField(const QString &text, int n);

// Every occurrence of pattern replaced, left to right; a replacement is never searched again.
QString ReplaceText(const QString &text, const QString &pattern, const QString &replacement);

// Whole seconds as h:mm:ss with at least two digits a field; hours are not wrapped.
QString FormatHms(qint32 seconds);

// The stop-time entry's expansion of a bare number (5 -> 00:00:05, 130 -> 00:01:30 ...) and its
// length rule: anything that is not 8 bytes long afterwards becomes "00:00:00".
QString NormaliseStopTime(const QString &entered);

// The general error display's text: "." is appended when the message is not empty and its
// last character sorts above ".".
QString ErrorDisplayText(const QString &message);

// Sets a dialog folder the way it is stored: one trailing "/" is dropped unless it is the root.
QString DropTrailingSeparator(const QString &dir);

// The stop timer's automatic name for a moment: "mmddhhnnss.wav".
QString TimeStampedName(const class QDateTime &moment);
