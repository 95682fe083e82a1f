// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The stop-time entry's normaliser: whatever is typed, the result is 8 Shift-JIS bytes, and a
// bare positive number of up to six digits becomes hh:mm:ss from its digits.
#include "fuzzcheck.h"
#include "routines.h"
#include "strconv.h"

#include <QString>

#include <cstdint>

namespace {

void check(const QString &entered)
{
    const QString t = NormaliseStopTime(entered);
    FUZZ_CHECK(sjisLength(t) == 8);
    // Idempotent: what it gives back is kept as it is when entered again.
    FUZZ_CHECK(NormaliseStopTime(t) == t);

    bool digitsOnly = !entered.isEmpty() && entered.size() <= 6;
    for (QChar c : entered)
        digitsOnly = digitsOnly && c >= u'0' && c <= u'9';
    if (digitsOnly && entered.toInt() != 0) {
        const QString padded = QString(6 - entered.size(), u'0') + entered;
        FUZZ_CHECK(t == padded.mid(0, 2) + u':' + padded.mid(2, 2) + u':' + padded.mid(4, 2));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    check(QString(reinterpret_cast<const QChar *>(data), qsizetype(size / 2)));
    return 0;
}
