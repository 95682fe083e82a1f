// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "inifile.h"

#include "atomicfile.h"
#include "strconv.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <unistd.h>

EIniFileError::EIniFileError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message) {}

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

// Only blanks and tabs: QString::trimmed would also eat the ideographic space, which is text.
QString trimBlanks(const QString &s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s.at(begin)))
        ++begin;
    while (end > begin && isBlank(s.at(end - 1)))
        --end;
    return s.mid(begin, end - begin);
}

enum class LineKind { Other, Comment, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QString name;   // section or key name, trimmed
    QString value;  // key value, trimmed
};

ParsedLine parseLine(const QString &line) {
    ParsedLine p;
    const QString t = trimBlanks(line);
    if (t.isEmpty())
        return p;
    // Only ";": the profile functions read "#key=value" as a key like any other.
    if (t.startsWith(QLatin1Char(';'))) {
        p.kind = LineKind::Comment;
        return p;
    }
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close > 0) {
            p.kind = LineKind::Section;
            p.name = trimBlanks(t.mid(1, close - 1));
        }
        return p;
    }
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq >= 0) {
        p.kind = LineKind::Key;
        p.name = trimBlanks(t.left(eq));
        p.value = trimBlanks(t.mid(eq + 1));
    }
    return p;
}

bool sameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The lines of a section: [header, end) where header is the "[name]" line; -1 when absent.
struct SectionRange {
    qsizetype header = -1;
    qsizetype end = -1;
};

SectionRange findSection(const QStringList &lines, const QString &section) {
    SectionRange r;
    const QString wanted = trimBlanks(section);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const ParsedLine p = parseLine(lines.at(i));
        if (p.kind != LineKind::Section)
            continue;
        if (r.header >= 0) {
            r.end = i;
            return r;
        }
        if (sameName(p.name, wanted))
            r.header = i;
    }
    if (r.header >= 0)
        r.end = lines.size();
    return r;
}

qsizetype findKey(const QStringList &lines, const SectionRange &r, const QString &key) {
    const QString wanted = trimBlanks(key);
    for (qsizetype i = r.header + 1; i < r.end; ++i) {
        const ParsedLine p = parseLine(lines.at(i));
        if (p.kind == LineKind::Key && sameName(p.name, wanted))
            return i;
    }
    return -1;
}

// A line break inside a value would start a new line of the file, and with it possibly a new
// key or section. A reader of the file would see only the first line, so that is what is kept.
QString oneLine(const QString &value) {
    for (qsizetype i = 0; i < value.size(); ++i)
        if (value.at(i) == QLatin1Char('\r') || value.at(i) == QLatin1Char('\n'))
            return value.left(i);
    return value;
}

QString capToBytes(const QString &value, int maxBytes) {
    int bytes = 0;
    qsizetype i = 0;
    while (i < value.size()) {
        const char32_t c = value.at(i).isHighSurrogate() && i + 1 < value.size()
                               ? QChar::surrogateToUcs4(value.at(i), value.at(i + 1))
                               : value.at(i).unicode();
        const int units = c > 0xFFFF ? 2 : 1;
        const int len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (bytes + len > maxBytes)
            break;
        bytes += len;
        i += units;
    }
    return value.left(i);
}

// What a read finds: the document, or nothing when the file does not exist. A file that
// exists but cannot be read is an error for a writer, which must not replace what it
// could not see.
enum class LoadResult { Loaded, Missing, Unreadable };

// Nothing the program writes goes past this; a larger file is not read past it, so a huge
// or endless file cannot stall the start.
constexpr qint64 kIniMaxBytes = 1 << 20;

LoadResult loadDocument(const QString &fileName, IniDocument *doc) {
    QByteArray bytes;
    // Never through a link, never a FIFO or a device: only a regular file is settings.
    if (!readRegularFile(fileName, kIniMaxBytes + 1, &bytes))
        return errno == ENOENT ? LoadResult::Missing : LoadResult::Unreadable;
    // A cut line, or a cut character, must not change how the rest reads.
    if (bytes.size() > kIniMaxBytes)
        bytes.truncate(bytes.lastIndexOf('\n', kIniMaxBytes - 1) + 1);
    *doc = IniDocument::parse(bytes);
    return LoadResult::Loaded;
}

[[noreturn]] void throwWriteError(const QString &fileName) {
    throw EIniFileError(QStringLiteral("%1 に書き込めません").arg(QDir::toNativeSeparators(fileName)));
}

// Replaces the file in one step (AtomicFile): a crash or a full disk leaves the old file. A
// link planted in the file's place is replaced, never written through.
void saveDocument(const QString &fileName, const QByteArray &bytes) {
    AtomicFile file(fileName, AtomicFile::Mode::Replace, AtomicFile::Links::Replace);
    if (file.open() != 0)
        throwWriteError(fileName);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(file.fd(), bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            file.failWrite(n < 0 ? errno : ENOSPC);
            break;
        }
        done += n;
    }
    if (file.commit() != 0)
        throwWriteError(fileName);
}

QString readValue(const IniDocument &doc, const QString &section, const QString &key, const QString &def) {
    const std::optional<QString> v = doc.value(section, key);
    return v ? capToBytes(*v, kIniValueMaxBytes) : def;
}

IniDocument writeProfile(const QString &section, const QString &key, const std::optional<QString> &value,
                         const QString &fileName) {
    IniDocument doc;
    if (loadDocument(fileName, &doc) == LoadResult::Unreadable)
        throwWriteError(fileName);
    const auto change = [&] { return value ? (doc.setValue(section, key, *value), true) : doc.removeKey(section, key); };
    if (!change())
        return doc;
    QByteArray bytes = doc.serialize();
    // Every file written here must read back whole: a file past the limit keeps what a read
    // sees of it, and one that would outgrow the limit rewritten (a damaged file turned into
    // UTF-8 can nearly double) keeps only its first half MiB, which leaves the program's own
    // keys room for a long time. The rest could not have been read anyway.
    if (bytes.size() > kIniMaxBytes) {
        doc.keepFirstBytes(kIniMaxBytes / 2);
        change();
        bytes = doc.serialize();
    }
    if (bytes.size() > kIniMaxBytes) {
        doc = IniDocument();
        change();
        bytes = doc.serialize();
    }
    saveDocument(fileName, bytes);
    return doc;
}

} // namespace

IniDocument IniDocument::parse(const QByteArray &bytes) {
    IniDocument doc;
    QByteArray body = bytes;
    // Every leading mark goes: a decoder would skip a second one silently, and the first key
    // would read differently before and after a rewrite.
    while (body.startsWith("\xEF\xBB\xBF")) {
        doc.m_bom = true;
        body.remove(0, 3);
    }
    doc.m_sjis = !isValidUtf8(body);
    const QString text = doc.m_sjis ? fromSjis(body) : QString::fromUtf8(body);
    if (text.isEmpty())
        return doc;
    doc.m_lines = text.split(QLatin1Char('\n'));
    const bool endsWithLf = text.endsWith(QLatin1Char('\n'));
    if (endsWithLf)
        doc.m_lines.removeLast();
    // The file is CR LF when every line that ends has a CR before its LF (a file without any LF:
    // when its one line ends in CR). Only then are those CRs line ends; otherwise a CR at the end
    // of a line belongs to the line and survives a rewrite.
    const qsizetype ended = endsWithLf || doc.m_lines.size() == 1 ? doc.m_lines.size() : doc.m_lines.size() - 1;
    bool crlf = ended > 0;
    for (qsizetype i = 0; i < ended && crlf; ++i)
        crlf = doc.m_lines.at(i).endsWith(QLatin1Char('\r'));
    if (crlf) {
        doc.m_eol = QStringLiteral("\r\n");
        for (qsizetype i = 0; i < ended; ++i)
            doc.m_lines[i].chop(1);
    }
    return doc;
}

QByteArray IniDocument::serialize() const {
    QByteArray out;
    if (m_bom)
        out.append("\xEF\xBB\xBF");
    const QByteArray eol = m_eol.toLatin1();
    // A Shift-JIS file stays Shift-JIS for the programs that read it so, as long as it reads
    // back the same: not when it holds a character the code page lacks (written into it, or a
    // damaged byte), which "?" would replace, nor when its bytes would read as UTF-8.
    if (m_sjis) {
        QByteArray body;
        bool same = true;
        bool ascii = true;
        for (qsizetype i = 0; same && i < m_lines.size(); ++i) {
            const QByteArray bytes = toSjis(m_lines.at(i));
            same = fromSjis(bytes) == m_lines.at(i);
            for (const char c : bytes)
                ascii = ascii && uchar(c) < 0x80;
            body.append(bytes);
            body.append(eol);
        }
        if (same && (ascii || !isValidUtf8(body)))
            return out + body;
    }
    for (const QString &line : m_lines) {
        out.append(line.toUtf8());
        out.append(eol);
    }
    return out;
}

std::optional<QString> IniDocument::value(const QString &section, const QString &key) const {
    const SectionRange r = findSection(m_lines, section);
    if (r.header < 0)
        return std::nullopt;
    const qsizetype k = findKey(m_lines, r, key);
    if (k < 0)
        return std::nullopt;
    QString v = parseLine(m_lines.at(k)).value;
    // As the profile functions read it: a pair of enclosing double quotes is not the value's.
    if (v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"')))
        v = v.mid(1, v.size() - 2);
    return v;
}

void IniDocument::setValue(const QString &section, const QString &key, const QString &value) {
    const QString v = oneLine(value);
    const SectionRange r = findSection(m_lines, section);
    if (r.header < 0) {
        if (!m_lines.isEmpty() && !trimBlanks(m_lines.last()).isEmpty())
            m_lines.append(QString());
        m_lines.append(QLatin1Char('[') + trimBlanks(section) + QLatin1Char(']'));
        m_lines.append(trimBlanks(key) + QLatin1Char('=') + v);
        return;
    }
    const qsizetype k = findKey(m_lines, r, key);
    if (k >= 0) {
        // The name keeps the spelling the file gave it.
        m_lines[k] = parseLine(m_lines.at(k)).name + QLatin1Char('=') + v;
        return;
    }
    // After the section's last key; without keys, after its last non-blank line. Blank lines
    // and comments that lead to the next section stay in front of it.
    qsizetype insertAt = -1;
    qsizetype lastNonBlank = r.header;
    for (qsizetype i = r.header + 1; i < r.end; ++i) {
        const ParsedLine p = parseLine(m_lines.at(i));
        if (p.kind == LineKind::Key)
            insertAt = i + 1;
        if (!trimBlanks(m_lines.at(i)).isEmpty())
            lastNonBlank = i;
    }
    if (insertAt < 0)
        insertAt = lastNonBlank + 1;
    m_lines.insert(insertAt, trimBlanks(key) + QLatin1Char('=') + v);
}

void IniDocument::keepFirstBytes(qsizetype maxBytes) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        bytes += m_lines.at(i).toUtf8().size() + m_eol.size();
        if (bytes > maxBytes) {
            m_lines.erase(m_lines.begin() + i, m_lines.end());
            return;
        }
    }
}

bool IniDocument::removeKey(const QString &section, const QString &key) {
    const SectionRange r = findSection(m_lines, section);
    if (r.header < 0)
        return false;
    const qsizetype k = findKey(m_lines, r, key);
    if (k < 0)
        return false;
    m_lines.removeAt(k);
    return true;
}

QString getPrivateProfileString(const QString &section, const QString &key, const QString &def,
                                const QString &fileName) {
    IniDocument doc;
    if (loadDocument(fileName, &doc) != LoadResult::Loaded)
        return def;
    return readValue(doc, section, key, def);
}

void writePrivateProfileString(const QString &section, const QString &key,
                               const std::optional<QString> &value, const QString &fileName) {
    writeProfile(section, key, value, fileName);
}

const IniDocument &TIniFile::document() const {
    if (!m_doc) {
        m_doc.emplace();
        loadDocument(m_fileName, &*m_doc);
    }
    return *m_doc;
}

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &def) const {
    return readValue(document(), section, key, def);
}

qint32 TIniFile::ReadInteger(const QString &section, const QString &key, qint32 def) const {
    QString text = ReadString(section, key, QString());
    if (text.size() > 2 && text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text.replace(0, 2, QLatin1Char('$'));
    return strToIntDef(text, def);
}

bool TIniFile::ReadBool(const QString &section, const QString &key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value) {
    m_doc = writeProfile(section, key, value, m_fileName);
}

void TIniFile::WriteInteger(const QString &section, const QString &key, qint32 value) {
    WriteString(section, key, QString::number(value));
}

void TIniFile::WriteBool(const QString &section, const QString &key, bool value) {
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TIniFile::DeleteKey(const QString &section, const QString &key) {
    m_doc = writeProfile(section, key, std::nullopt, m_fileName);
}
