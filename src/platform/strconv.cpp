// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "strconv.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

bool tryStrToInt(const QString &s, qint32 *out) {
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n && s.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-'))) {
        negative = s.at(i) == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && (s.at(i) == QLatin1Char('$') || s.at(i) == QLatin1Char('x') ||
                  s.at(i) == QLatin1Char('X'))) {
        base = 16;
        ++i;
    } else if (i + 1 < n && s.at(i) == QLatin1Char('0') &&
               (s.at(i + 1) == QLatin1Char('x') || s.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return false;

    // The magnitude of the most negative value is one more than the largest positive one.
    const qint64 limit = negative ? qint64(1) << 31 : (qint64(1) << 31) - 1;
    qint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = s.at(i).unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return false;
        value = value * base + digit;
        if (value > limit)
            return false;
    }
    *out = qint32(negative ? -value : value);
    return true;
}

qint32 strToIntDef(const QString &s, qint32 def) {
    qint32 v;
    return tryStrToInt(s, &v) ? v : def;
}

namespace {

// Length of the UTF-8 sequence that starts with this lead byte (1 for a stray byte).
int utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

class Iconv {
public:
    Iconv(const char *to, const char *from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok())
            iconv_close(m_cd);
    }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Converts UTF-8 text to CP932. Each character the code page cannot hold is skipped and
// reported through onUnmappable, which decides what stands in its place.
template <typename OnUnmappable>
QByteArray utf8ToSjis(const QByteArray &utf8, OnUnmappable onUnmappable) {
    QByteArray result;
    Iconv cd("CP932", "UTF-8");
    if (!cd.ok())
        return result;
    result.reserve(utf8.size() * 2);
    char *in = const_cast<char *>(utf8.constData());
    size_t inLeft = size_t(utf8.size());
    char buffer[256];
    while (inLeft > 0) {
        char *out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd.handle(), &in, &inLeft, &out, &outLeft);
        result.append(buffer, qsizetype(out - buffer));
        if (rc != size_t(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ or EINVAL: one character the code page lacks (or a broken tail); skip it.
        const size_t skip = std::min<size_t>(utf8SequenceLength(static_cast<unsigned char>(*in)),
                                             inLeft);
        in += skip;
        inLeft -= skip;
        onUnmappable(result);
    }
    return result;
}

} // namespace

QByteArray toSjis(const QString &s) {
    // Windows' default character for a code-page conversion.
    return utf8ToSjis(s.toUtf8(), [](QByteArray &out) { out.append('?'); });
}

int sjisLength(const QString &s) {
    int unmappable = 0;
    const QByteArray bytes = utf8ToSjis(s.toUtf8(), [&](QByteArray &) { ++unmappable; });
    // Every single-byte character of CP932 (ASCII, half-width katakana) can be encoded, so a
    // character outside the code page is never a narrow one: it is counted as a double-byte
    // character, like the full-width text around it, and an emoji (two UTF-16 units) counts 2,
    // not 4. Counting the "?" a conversion would leave would make such text look shorter
    // than it is drawn.
    return int(bytes.size()) + 2 * unmappable;
}

QString fromSjis(const QByteArray &bytes) {
    QByteArray utf8;
    Iconv cd("UTF-8", "CP932");
    if (!cd.ok())
        return QString::fromLatin1(bytes);
    utf8.reserve(bytes.size() * 3 / 2 + 4);
    char *in = const_cast<char *>(bytes.constData());
    size_t inLeft = size_t(bytes.size());
    char buffer[256];
    while (inLeft > 0) {
        char *out = buffer;
        size_t outLeft = sizeof buffer;
        const size_t rc = iconv(cd.handle(), &in, &inLeft, &out, &outLeft);
        utf8.append(buffer, qsizetype(out - buffer));
        if (rc != size_t(-1) || errno == E2BIG)
            continue;
        ++in;
        --inLeft;
        utf8.append("\xEF\xBF\xBD");
    }
    return QString::fromUtf8(utf8);
}

bool isValidUtf8(const QByteArray &bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        const int len = utf8SequenceLength(c);
        if (len == 1 || i + len > n)
            return false;
        for (int k = 1; k < len; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        const unsigned char c1 = p[i + 1];
        if (c == 0xE0 && c1 < 0xA0)  // overlong
            return false;
        if (c == 0xED && c1 >= 0xA0)  // UTF-16 surrogates
            return false;
        if (c == 0xF0 && c1 < 0x90)  // overlong
            return false;
        if (c == 0xF4 && c1 >= 0x90)  // above U+10FFFF
            return false;
        i += len;
    }
    return true;
}
