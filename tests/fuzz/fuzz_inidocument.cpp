// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The settings file's text as IniDocument reads it: any bytes (UTF-8, CP932, garbage). Every
// key the document lists must be found by a lookup under any spelling of its case, writing a
// key must read back as written, and a document must survive its own serialisation.
#include "fuzzcheck.h"
#include "inifile.h"
#include "strconv.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>

namespace {

QString blanksTrimmed(const QString &s)
{
    qsizetype b = 0, e = s.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; };
    while (b < e && blank(s[b]))
        ++b;
    while (e > b && blank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

// A pair of enclosing double quotes is not part of the value.
QString unquoted(const QString &s)
{
    return s.size() >= 2 && s.startsWith(u'"') && s.endsWith(u'"') ? s.mid(1, s.size() - 2) : s;
}

// Swaps the case of ASCII letters only: a fold beyond ASCII may change the length ("ß").
QString asciiCaseFlipped(const QString &s)
{
    QString r = s;
    for (QChar &c : r) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
        else if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    IniDocument doc = IniDocument::parse(bytes);

    // The program's own lookups, the way it reads its settings.
    for (const auto &[section, key] : {std::pair{"Software", "Version"}, {"Window", "Left"},
                                       {"Setting", "RecMode"}, {"File", "IniDir"}})
        (void)doc.value(QString::fromLatin1(section), QString::fromLatin1(key));

    // A document survives its own serialisation line by line, stray CRs and repeated
    // byte-order marks included.
    const QByteArray out = doc.serialize();
    // UTF-8 stays UTF-8; a file read as CP932 may stay CP932.
    QByteArray body = bytes;
    while (body.startsWith("\xEF\xBB\xBF"))
        body.remove(0, 3);
    FUZZ_CHECK(isValidUtf8(out) || !isValidUtf8(body));
    const IniDocument reread = IniDocument::parse(out);
    FUZZ_CHECK(reread.lines() == doc.lines());

    // The first key of a section met for the first time is found under any case of the names.
    QStringList seen;
    QString section;
    bool inSection = false;
    for (const QString &raw : doc.lines()) {
        const QString line = blanksTrimmed(raw);
        if (line.startsWith(u'[') && line.indexOf(u']') > 0) {
            section = blanksTrimmed(line.mid(1, line.indexOf(u']') - 1));
            inSection = !seen.contains(section, Qt::CaseInsensitive);
            seen.append(section);
            continue;
        }
        // An unclosed "[" is no key either.
        if (!inSection || line.startsWith(u';') || line.startsWith(u'['))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            continue;
        const QString key = blanksTrimmed(line.left(eq));
        const std::optional<QString> v = doc.value(asciiCaseFlipped(section), asciiCaseFlipped(key));
        FUZZ_CHECK(v.has_value());
        FUZZ_CHECK(*v == unquoted(blanksTrimmed(line.mid(eq + 1))));
        break;
    }

    // Writing reads back: the value as one line without the blanks at its ends.
    const QString written = QString::fromUtf8(bytes.left(64));
    IniDocument edited = doc;
    edited.setValue(QStringLiteral("Setting"), QStringLiteral("Timer"), written);
    QString expected = written;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        if (expected[i] == u'\r' || expected[i] == u'\n') {
            expected.truncate(i);
            break;
        }
    }
    expected = unquoted(blanksTrimmed(expected));
    const std::optional<QString> back = edited.value(QStringLiteral("setting"), QStringLiteral("TIMER"));
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == expected);
    // ...also after a round trip through the bytes of a file.
    const std::optional<QString> backFromFile =
        IniDocument::parse(edited.serialize()).value(QStringLiteral("Setting"), QStringLiteral("Timer"));
    FUZZ_CHECK(backFromFile == back);
    // Removing the key written into a document that lacked it gives the document's answer back.
    FUZZ_CHECK(edited.removeKey(QStringLiteral("Setting"), QStringLiteral("Timer")));
    if (!doc.value(QStringLiteral("Setting"), QStringLiteral("Timer")))
        FUZZ_CHECK(!edited.value(QStringLiteral("Setting"), QStringLiteral("Timer")));
    return 0;
}
