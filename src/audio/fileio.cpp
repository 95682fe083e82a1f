// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "fileio.h"

#include "tmediaplayer.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {
std::atomic<unsigned> g_tempCounter{0};
}

bool writeAllAt(int fd, const void *data, qint64 len, qint64 off, qint64 *written)
{
    const auto *p = static_cast<const char *>(data);
    qint64 done = 0;
    while (done < len) {
        const ssize_t n = ::pwrite(fd, p + done, size_t(len - done), off + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            break;
        }
        done += n;
    }
    if (written)
        *written = done;
    return done == len;
}

qint64 readAt(int fd, void *data, qint64 len, qint64 off)
{
    auto *p = static_cast<char *>(data);
    qint64 done = 0;
    while (done < len) {
        const ssize_t n = ::pread(fd, p + done, size_t(len - done), off + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool copyRange(int in, qint64 inOff, int out, qint64 outOff, qint64 len)
{
    bool kernelCopy = true;
    while (len > 0 && kernelCopy) {
        loff_t i = inOff, o = outOff;
        const ssize_t n = ::copy_file_range(in, &i, out, &o, size_t(std::min<qint64>(len, 1 << 30)), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
            kernelCopy = false;
            break;
        }
        if (n < 0)
            return false;
        if (n == 0)
            return false;  // the source is shorter than it should be
        inOff += n;
        outOff += n;
        len -= n;
    }
    std::vector<char> buf(size_t(std::min<qint64>(len, 1 << 20)));
    while (len > 0) {
        const qint64 want = std::min<qint64>(len, qint64(buf.size()));
        const qint64 got = readAt(in, buf.data(), want, inOff);
        if (got <= 0 || !writeAllAt(out, buf.data(), got, outOff))
            return false;
        inOff += got;
        outOff += got;
        len -= got;
    }
    return true;
}

quint32 writeWavFile(const QString &path, const AudioFormat &format, int dataFd, qint64 dataOffset,
                     qint64 dataBytes)
{
    const QFileInfo target(path);
    const QString dir = target.absolutePath();
    int fd = -1;
    QByteArray tmpName;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmpName = QFile::encodeName(QDir(dir).filePath(
            QStringLiteral(".%1.%2-%3.tmp").arg(target.fileName()).arg(::getpid()).arg(g_tempCounter.fetch_add(1))));
        fd = ::open(tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return MCIERR_FILE_NOT_SAVED;
    }
    if (fd < 0)
        return MCIERR_FILE_NOT_SAVED;

    const QByteArray header = WavHeaderWriter(format).header(dataBytes);
    bool ok = writeAllAt(fd, header.constData(), header.size(), 0);
    // In pieces, each handed to write-back at once, so the final fsync finds little left to
    // do: the copy and the disk's work overlap instead of following each other.
    constexpr qint64 kPiece = 64LL << 20;
    for (qint64 done = 0; ok && done < dataBytes; done += kPiece) {
        const qint64 n = std::min(kPiece, dataBytes - done);
        ok = copyRange(dataFd, dataOffset + done, fd, header.size() + done, n);
        if (ok)
            ::sync_file_range(fd, header.size() + done, n, SYNC_FILE_RANGE_WRITE);
    }
    if (ok && (dataBytes & 1)) {
        const char pad = 0;
        ok = writeAllAt(fd, &pad, 1, header.size() + dataBytes);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    const QByteArray finalName = QFile::encodeName(target.absoluteFilePath());
    if (ok)
        ok = ::rename(tmpName.constData(), finalName.constData()) == 0;
    if (!ok) {
        ::unlink(tmpName.constData());
        return MCIERR_FILE_WRITE;
    }
    const int dfd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}
