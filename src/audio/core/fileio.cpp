// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "fileio.h"

#include "deviceerror.h"
#include "wavfile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <vector>

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

// Writes len bytes of fill at off.
static bool fillRange(int out, qint64 off, qint64 len, char fill)
{
    std::vector<char> buf(size_t(std::min<qint64>(len, 1 << 20)), fill);
    for (qint64 done = 0; done < len;) {
        const qint64 n = std::min<qint64>(len - done, qint64(buf.size()));
        if (!writeAllAt(out, buf.data(), n, off + done))
            return false;
        done += n;
    }
    return true;
}

// Like copyRange, but only the parts of the source that hold data: a hole (a sparse spool) is
// skipped and stays a hole in the copy, for the caller to size the file over. A hole reads as
// zeros; where zero is not silence (8-bit samples) it is written as silence instead.
static bool copyAllocated(int in, qint64 inOff, int out, qint64 outOff, qint64 len, char silence)
{
    const auto hole = [&](qint64 from, qint64 to) {
        return silence == 0 || from >= to || fillRange(out, outOff + (from - inOff), to - from, silence);
    };
    const qint64 end = inOff + len;
    struct stat st {};
    if (::fstat(in, &st) != 0)
        return false;
    if (st.st_size < end) {
        errno = EIO;  // the source is shorter than it should be
        return false;
    }
    qint64 pos = inOff;
    while (pos < end) {
        const off_t data = ::lseek(in, pos, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            return hole(pos, end);  // only a hole up to the end of the file
        if (data < 0)  // the file system cannot tell: copy it all
            return copyRange(in, pos, out, outOff + (pos - inOff), end - pos);
        if (data >= end)
            return hole(pos, end);
        if (!hole(pos, data))
            return false;
        off_t next = ::lseek(in, data, SEEK_HOLE);
        if (next < 0 || next > end)
            next = end;
        if (!copyRange(in, data, out, outOff + (data - inOff), next - data))
            return false;
        pos = next;
    }
    return true;
}

quint32 writeWavData(AtomicFile &file, const AudioFormat &format, int dataFd, qint64 dataOffset,
                     qint64 dataBytes, const std::function<bool(qint64)> &progress)
{
    const int fd = file.fd();
    const QByteArray header = WavHeaderWriter(format).header(dataBytes);
    errno = 0;
    if (!writeAllAt(fd, header.constData(), header.size(), 0))
        return file.failWrite(errno ? errno : EIO);
    // In pieces, each handed to write-back at once, so the final fsync finds little left to do:
    // the copy and the disk's work overlap instead of following each other.
    constexpr qint64 kPiece = 8LL << 20;
    const char silence = format.bits == 8 ? char(0x80) : char(0);
    for (qint64 done = 0; done < dataBytes; done += kPiece) {
        if (progress && !progress(done))
            return kWavWriteCancelled;
        const qint64 n = std::min(kPiece, dataBytes - done);
        errno = 0;
        if (!copyAllocated(dataFd, dataOffset + done, fd, header.size() + done, n, silence))
            return file.failWrite(errno ? errno : EIO);
        ::sync_file_range(fd, header.size() + done, n, SYNC_FILE_RANGE_WRITE);
    }
    // The holes left by the copy, and the pad byte of an odd size, read as zeros.
    if (::ftruncate(fd, header.size() + dataBytes + (dataBytes & 1)) != 0)
        return file.failWrite(errno);
    if (progress && !progress(dataBytes))
        return kWavWriteCancelled;
    return 0;
}

quint32 writeWavFile(const QString &path, const AudioFormat &format, int dataFd, qint64 dataOffset,
                     qint64 dataBytes, AtomicFile::Mode mode, QString *reason, QString *savedAs,
                     AtomicFile::Links links)
{
    AtomicFile file(path, mode, links);
    quint32 rc = file.open();
    if (rc == 0)
        rc = writeWavData(file, format, dataFd, dataOffset, dataBytes);
    if (rc == 0)
        rc = file.commit();
    if (reason)
        *reason = rc == 0 ? QString() : file.reason();
    if (savedAs)
        *savedAs = rc == 0 ? file.finalPath() : QString();
    return rc;
}
