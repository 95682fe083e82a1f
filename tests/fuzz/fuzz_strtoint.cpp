// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The integer conversion behind settings and the stop time, checked against a plain reference
// written from its contract: blanks, a sign, decimal or hexadecimal digits after "$", "x",
// "X", "0x" or "0X", nothing after them, and the signed 32-bit range.
#include "fuzzcheck.h"
#include "strconv.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace {

std::optional<qint32> reference(const QString &s)
{
    qsizetype i = 0;
    while (i < s.size() && s[i] == u' ')
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        negative = s[i++] == u'-';
    int base = 10;
    if (i < s.size() && (s[i] == u'$' || s[i] == u'x' || s[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size())
        return std::nullopt;
    // Arbitrary length: leading zeros may run on, so count in a wide type and saturate.
    __int128 v = 0;
    for (; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return std::nullopt;
        v = v * base + d;
        if (v > (__int128(1) << 40))
            v = __int128(1) << 40;
    }
    if (negative)
        v = -v;
    if (v < INT32_MIN || v > INT32_MAX)
        return std::nullopt;
    return qint32(v);
}

void check(const QString &s)
{
    const qint32 untouched = 0x5A5A5A5A;
    qint32 got = untouched;
    const bool ok = tryStrToInt(s, &got);
    const std::optional<qint32> want = reference(s);
    FUZZ_CHECK(ok == want.has_value());
    if (ok)
        FUZZ_CHECK(got == *want);
    else
        FUZZ_CHECK(got == untouched);  // left alone on failure
    FUZZ_CHECK(strToIntDef(s, 7) == (ok ? got : 7));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Both ways a text reaches it: UTF-8 from a file, and raw UTF-16 units (lone surrogates too).
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));
    check(QString(reinterpret_cast<const QChar *>(data), qsizetype(size / 2)));
    return 0;
}
