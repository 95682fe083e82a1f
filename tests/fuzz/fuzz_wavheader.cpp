// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The WAV header reader, as the work file and a recovered spool reach it: any bytes, read
// through a real descriptor. An accepted header must describe data that is really in the file,
// in whole frames of a format the device can record, and the headers the writer makes for
// that format must read back the same.
#include "fuzzcheck.h"
#include "wavfile.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A real file with a name: the reader opens the work file by name and refuses links, so a
// /proc/self/fd path would not do.
const QString &scratchPath()
{
    static const QString path = [] {
        char name[] = "/tmp/fuzz-wav-XXXXXX";
        const int fd = ::mkstemp(name);
        FUZZ_CHECK(fd >= 0);
        ::close(fd);
        static char kept[sizeof name];
        std::memcpy(kept, name, sizeof name);
        std::atexit([] { ::unlink(kept); });
        return QString::fromLocal8Bit(name);
    }();
    return path;
}

int scratchFd()
{
    static const int fd = ::open(scratchPath().toLocal8Bit().constData(), O_RDWR | O_CLOEXEC);
    return fd;
}

void load(int fd, const void *data, size_t size, qint64 length)
{
    FUZZ_CHECK(::ftruncate(fd, 0) == 0);
    FUZZ_CHECK(size == 0 || ::pwrite(fd, data, size, 0) == ssize_t(size));
    FUZZ_CHECK(::ftruncate(fd, length) == 0);  // beyond the bytes: a sparse tail of zeros
}

void checkAccepted(const WavInfo &info, qint64 size)
{
    const AudioFormat &f = info.format;
    FUZZ_CHECK(f.bits == 8 || f.bits == 16);
    FUZZ_CHECK(f.channels == 1 || f.channels == 2);
    FUZZ_CHECK(f.rate >= 1000 && f.rate <= 384000);
    FUZZ_CHECK(info.dataOffset >= 12 + 8 + 16 + 8);
    FUZZ_CHECK(info.dataBytes >= 0);
    FUZZ_CHECK(info.dataBytes % f.bytesPerFrame() == 0);
    FUZZ_CHECK(info.dataOffset + info.dataBytes <= size);
}

// What the writer makes for this format and length reads back as exactly that.
void checkRoundTrip(const AudioFormat &f, qint64 dataBytes, const QByteArray &header, qint64 offset)
{
    const int fd = scratchFd();
    load(fd, header.constData(), size_t(header.size()), header.size() + dataBytes);
    WavInfo back;
    FUZZ_CHECK(parseWavHeader(fd, header.size() + dataBytes, &back) == 0);
    FUZZ_CHECK(back.format == f);
    FUZZ_CHECK(back.dataOffset == offset);
    FUZZ_CHECK(back.dataBytes == dataBytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const int fd = scratchFd();
    FUZZ_CHECK(fd >= 0);
    load(fd, data, size, qint64(size));

    WavInfo info;
    const quint32 rc = readWavHeader(scratchPath(), &info);
    WavInfo again;
    FUZZ_CHECK(parseWavHeader(fd, qint64(size), &again) == rc);
    if (rc != 0)
        return 0;
    checkAccepted(info, qint64(size));
    FUZZ_CHECK(again.format == info.format && again.dataOffset == info.dataOffset &&
               again.dataBytes == info.dataBytes);

    const AudioFormat f = info.format;
    const qint64 bytes = info.dataBytes;
    checkRoundTrip(f, bytes, WavHeaderWriter(f).header(bytes), 44);
    checkRoundTrip(f, bytes, WavHeaderWriter(f).spoolHeader(bytes), WavHeaderWriter::kSpoolHeaderSize);
    // A limit below the length: the RF64 form with its ds64 chunk.
    if (bytes > 0)
        checkRoundTrip(f, bytes, WavHeaderWriter(f, bytes - 1).header(bytes), 80);
    return 0;
}
