// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The settings file read through TIniFile, as the program reads it at start: any bytes in the
// file. Reads agree with the document's own lookup, are capped at the profile functions'
// length, convert integers the documented way, and a write followed by a read returns it.
#include "fuzzcheck.h"
#include "inifile.h"
#include "strconv.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <utility>
#include <unistd.h>

namespace {

QString scratchFile()
{
    static const QString path = [] {
        const QString base = QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        return QStringLiteral("%1/tavr-fuzz-%2.ini").arg(base).arg(::getpid());
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString path = scratchFile();
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(f.write(bytes) == bytes.size());
    }
    const IniDocument doc = IniDocument::parse(bytes);
    TIniFile ini(path);

    // The keys the program reads at start, in the sections it reads them from.
    const std::pair<QString, QString> entries[] = {
        {QStringLiteral("Software"), QStringLiteral("Version")}, {QStringLiteral("Window"), QStringLiteral("Top")},
        {QStringLiteral("Setting"), QStringLiteral("RecMode")},  {QStringLiteral("Setting"), QStringLiteral("TimerON")},
        {QStringLiteral("Setting"), QStringLiteral("Timer")},    {QStringLiteral("File"), QStringLiteral("IniDir")},
    };
    for (const auto &[section, key] : entries) {
        const QString s = ini.ReadString(section, key, QStringLiteral("\x01"));
        const std::optional<QString> v = doc.value(section, key);
        if (!v) {
            FUZZ_CHECK(s == QStringLiteral("\x01"));
            FUZZ_CHECK(ini.ReadInteger(section, key, -77) == -77);
            continue;
        }
        FUZZ_CHECK(v->startsWith(s));
        FUZZ_CHECK(s.toUtf8().size() <= kIniValueMaxBytes);
        if (s.toUtf8().size() + 4 <= kIniValueMaxBytes)
            FUZZ_CHECK(s == *v);  // a cut only happens at the cap

        QString text = s;
        if (text.size() > 2 && (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)))
            text = QLatin1Char('$') + text.mid(2);
        const qint32 n = ini.ReadInteger(section, key, -77);
        FUZZ_CHECK(n == strToIntDef(text, -77));
        if (key == QLatin1String("TimerON"))
            FUZZ_CHECK(ini.ReadBool(section, key, true) == (strToIntDef(text, 1) != 0));
    }

    // A write syncs the file and its folder, which is slow: one input in sixteen (by its
    // length, so a kept input does the same again) also checks a write and its read-back.
    if (size % 16 != 0)
        return 0;
    // The last four bytes as a number: written, then read back from the replaced file.
    qint32 number = 0;
    for (size_t i = size > 4 ? size - 4 : 0; i < size; ++i)
        number = qint32((quint32(number) << 8) | data[i]);
    ini.WriteInteger(QStringLiteral("Setting"), QStringLiteral("RecMode"), number);
    FUZZ_CHECK(ini.ReadInteger(QStringLiteral("setting"), QStringLiteral("recmode"), number ^ 1) == number);
    return 0;
}
