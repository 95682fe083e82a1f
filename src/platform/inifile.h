// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The settings file: a Windows INI file read and written with the semantics of the Windows
// profile functions. Only a regular file is read (never through a link, never a FIFO), and
// only its first MiB.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <stdexcept>

// A settings file that could not be written (or could not be read before a rewrite).
class EIniFileError : public std::runtime_error {
public:
    explicit EIniFileError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// The text of an INI file in memory, line by line, so that a rewrite keeps every line it does
// not change (comments, blank lines, unknown keys and sections) as it was.
class IniDocument {
public:
    // Reads UTF-8 (with or without a byte-order mark); text that is not valid UTF-8 is CP932.
    static IniDocument parse(const QByteArray &bytes);
    // In the encoding the file had (UTF-8 for a new file; a CP932 file becomes UTF-8 only when
    // it must hold a character CP932 lacks), with the line ends it had (LF for a new file).
    QByteArray serialize() const;

    // Section and key names match without regard to case; the value comes back trimmed, and
    // without a pair of double quotes that enclose it.
    std::optional<QString> value(const QString &section, const QString &key) const;
    // Replaces the key's line, or adds the key at the end of its section, or adds the section
    // at the end of the file.
    void setValue(const QString &section, const QString &key, const QString &value);
    // Removes the key's line; false when there was no such key.
    bool removeKey(const QString &section, const QString &key);
    // Drops the lines past the first maxBytes of UTF-8 text.
    void keepFirstBytes(qsizetype maxBytes);

    const QStringList &lines() const { return m_lines; }

private:
    QStringList m_lines;
    QString m_eol = QStringLiteral("\n");
    bool m_bom = false;
    bool m_sjis = false;
};

// The longest value a read returns, in bytes of the file's text.
inline constexpr int kIniValueMaxBytes = 2047;

// The profile functions. A missing file, section or key reads the default; a key present with
// an empty value reads the empty text. A write replaces the file atomically and throws
// EIniFileError when it fails; a value of std::nullopt deletes the key.
QString getPrivateProfileString(const QString &section, const QString &key, const QString &def,
                                const QString &fileName);
void writePrivateProfileString(const QString &section, const QString &key,
                               const std::optional<QString> &value, const QString &fileName);

// The settings-file object. The file is parsed once, at the first read; a write reads the file
// afresh, so what another copy wrote meanwhile is kept, and its result is what later reads see.
class TIniFile {
public:
    explicit TIniFile(QString fileName) : m_fileName(std::move(fileName)) {}

    const QString &FileName() const { return m_fileName; }

    QString ReadString(const QString &section, const QString &key, const QString &def) const;
    // "0x"/"0X" followed by more text reads as hexadecimal; anything unconvertible is def.
    qint32 ReadInteger(const QString &section, const QString &key, qint32 def) const;
    // Any non-zero integer is true.
    bool ReadBool(const QString &section, const QString &key, bool def) const;

    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, qint32 value);
    void WriteBool(const QString &section, const QString &key, bool value);
    void DeleteKey(const QString &section, const QString &key);

private:
    const IniDocument &document() const;

    QString m_fileName;
    mutable std::optional<IniDocument> m_doc;
};
