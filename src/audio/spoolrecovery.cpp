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
// A spool of this process is never an orphan, even in the moment between its creation and its
// lock.
bool ours(const QString &name) {
    return name.startsWith(QStringLiteral("spool-%1-").arg(::getpid()));
}
}  // namespace

QList<RecoveredTake> recoverOrphanedSpools(const QString &spoolDir, const QString &targetDir) {
    QList<RecoveredTake> out;
    const QFileInfoList spools =
        QDir(spoolDir).entryInfoList({QStringLiteral("spool-*.wav")}, QDir::Files,
                                     QDir::Time | QDir::Reversed);
    for (const QFileInfo &spool : spools) {
        if (ours(spool.fileName()))
            continue;
        const QByteArray path = QFile::encodeName(spool.absoluteFilePath());
        const int fd = openRegularFile(spool.absoluteFilePath(), O_RDWR);
        if (fd < 0)
            continue;
        // A running copy holds its spool locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        struct stat st {}, named {};
        // Another copy may have saved and removed it between the listing and the lock.
        if (::fstat(fd, &st) != 0 || st.st_nlink == 0 || ::lstat(path.constData(), &named) != 0 ||
            named.st_ino != st.st_ino || named.st_dev != st.st_dev) {
            ::close(fd);
            continue;
        }
        WavInfo info;
        if (parseWavHeader(fd, st.st_size, &info) != 0) {
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
        makePrivatePath(targetDir);
        const QString stamp = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec).toString(QStringLiteral("MMddHHmmss"));
        QString savedAs;
        // A taken name gets "-2", "-3"..., and two copies recovering at once cannot both take
        // the same one.
        if (writeWavFile(QDir(targetDir).filePath(stamp + QStringLiteral(".wav")), info.format, fd,
                         info.dataOffset, bytes, AtomicFile::Mode::NoReplace, nullptr, &savedAs) == 0) {
            take.savedAs = savedAs;
            // Removed while still locked, so no other copy can pick it up again.
            ::unlink(path.constData());
        }
        ::close(fd);
        out.append(take);
    }
    return out;
}
