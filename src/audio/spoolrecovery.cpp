// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "spoolrecovery.h"

#include "fileio.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString freeName(const QString &dir, const QDateTime &when) {
    const QString stamp = when.toString(QStringLiteral("MMddHHmmss"));
    QString name = stamp + QStringLiteral(".wav");
    for (int n = 2; QFileInfo::exists(QDir(dir).filePath(name)); ++n)
        name = QStringLiteral("%1-%2.wav").arg(stamp).arg(n);
    return QDir(dir).filePath(name);
}
}  // namespace

QList<RecoveredTake> recoverOrphanedSpools(const QString &spoolDir, const QString &targetDir) {
    QList<RecoveredTake> out;
    const QFileInfoList spools =
        QDir(spoolDir).entryInfoList({QStringLiteral("spool-*.wav")}, QDir::Files, QDir::Time | QDir::Reversed);
    for (const QFileInfo &spool : spools) {
        const QByteArray path = QFile::encodeName(spool.absoluteFilePath());
        const int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A running copy holds its spool locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        struct stat st {};
        WavInfo info;
        const bool readable = ::fstat(fd, &st) == 0 && parseWavHeader(fd, st.st_size, &info) == 0;
        if (!readable) {
            // Not a spool this program can read back: leave it for a person to look at.
            ::close(fd);
            continue;
        }
        // The header is brought up to date every second; what was written after that is on
        // disk too, so the file's own length decides.
        const int bpf = info.format.bytesPerFrame();
        const qint64 bytes = bpf > 0 ? (st.st_size - info.dataOffset) / bpf * bpf : 0;
        if (bytes <= 0) {
            ::unlink(path.constData());
            ::close(fd);
            continue;
        }
        RecoveredTake take;
        take.spool = spool.absoluteFilePath();
        take.frames = bytes / bpf;
        QDir().mkpath(targetDir);
        const QString target = freeName(targetDir, spool.lastModified());
        if (writeWavFile(target, info.format, fd, info.dataOffset, bytes) == 0) {
            take.savedAs = target;
            ::unlink(path.constData());
        }
        ::close(fd);
        out.append(take);
    }
    return out;
}
