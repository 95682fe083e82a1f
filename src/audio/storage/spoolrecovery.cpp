// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "spoolrecovery.h"

#include "fileio.h"
#include "spool.h"
#include "spoolring.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Where the file's last allocated data ends: a file system that kept a file's length through a
// power cut but not all of its data shows the lost tail as a hole, and a hole is not audio.
qint64 allocatedEnd(int fd, qint64 size)
{
    qint64 end = 0;
    qint64 pos = 0;
    while (pos < size) {
        const off_t data = ::lseek(fd, pos, SEEK_DATA);
        if (data < 0)
            return errno == ENXIO ? end : size;  // ENXIO: holes to the end; else it cannot tell
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            return size;
        end = std::min<qint64>(hole, size);
        pos = hole;
    }
    return end;
}

}  // namespace

QList<RecoveredTake> recoverOrphanedSpools(const QString &spoolDir, const QString &targetDir) {
    QList<RecoveredTake> out;
    // What a killed copy's ring held goes to its spool first.
    mergeOrphanedRings(spoolDir);
    const QFileInfoList files = QDir(spoolDir).entryInfoList(
        {QLatin1String(SpoolNames::kLive) + QLatin1String("*.wav"),
         QLatin1String(SpoolNames::kSaved) + QLatin1String("*.wav"),
         QLatin1String(SpoolNames::kBirth) + QLatin1String("*.wav")},
        QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed);
    bool removed = false;
    for (const QFileInfo &spool : files) {
        const QByteArray path = QFile::encodeName(spool.absoluteFilePath());
        const int fd = openRegularFile(spool.absoluteFilePath(), O_RDWR);
        if (fd < 0)
            continue;
        // Whoever owns a spool, in this process or another, holds it locked: the lock alone
        // tells a live spool from an orphan.
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
        // Unlinked while still locked, so no other copy can pick it up again.
        const auto remove = [&] {
            ::unlink(path.constData());
            removed = true;
        };
        // A take saved whole, or a spool whose owner died while it was being born.
        if (!spool.fileName().startsWith(QLatin1String(SpoolNames::kLive))) {
            remove();
            ::close(fd);
            continue;
        }
        WavInfo info;
        const bool readable = parseWavHeader(fd, st.st_size, &info) == 0;
        if (!readable && st.st_size <= WavHeaderWriter::kSpoolHeaderSize) {
            // Cut off before its header was written: no audio in it.
            remove();
            ::close(fd);
            continue;
        }
        RecoveredTake take;
        take.spool = spool.absoluteFilePath();
        if (!readable) {
            // Not a spool this program can read back: leave it for a person to look at.
            ::close(fd);
            out.append(take);
            continue;
        }
        // The header counts what was written, and is rewritten with each piece of audio; no
        // more than the file's allocated data is trusted beyond it.
        const int bpf = info.format.bytesPerFrame();
        qint64 bytes = std::min(info.dataBytes, allocatedEnd(fd, st.st_size) - info.dataOffset);
        bytes = bpf > 0 ? std::max<qint64>(bytes, 0) / bpf * bpf : 0;
        if (bytes <= 0) {
            remove();
            ::close(fd);
            continue;
        }
        take.frames = bytes / bpf;
        makePrivatePath(targetDir);
        const QString stamp = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec).toString(QStringLiteral("MMddHHmmss"));
        QString savedAs;
        // A taken name gets "-2", "-3"..., and two copies recovering at once cannot both take
        // the same one.
        if (writeWavFile(QDir(targetDir).filePath(stamp + QStringLiteral(".wav")), info.format, fd,
                         info.dataOffset, bytes, AtomicFile::Mode::NoReplace, nullptr, &savedAs) == 0) {
            take.savedAs = savedAs;
            remove();
        }
        ::close(fd);
        out.append(take);
    }
    // A removal that a power cut could undo would bring the take back a second time.
    if (removed)
        syncFolder(spoolDir);
    return out;
}
