// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "wavfile.h"

#include "atomicfile.h"
#include "deviceerror.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

quint32 le32(const unsigned char *p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (quint32(p[3]) << 24); }
quint16 le16(const unsigned char *p) { return quint16(p[0] | (p[1] << 8)); }
quint64 le64(const unsigned char *p) { return quint64(le32(p)) | (quint64(le32(p + 4)) << 32); }

bool readAt(int fd, void *buf, qint64 len, qint64 off)
{
    auto *p = static_cast<char *>(buf);
    while (len > 0) {
        const ssize_t n = ::pread(fd, p, size_t(len), off);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        len -= n;
        off += n;
    }
    return true;
}

void put32(QByteArray &b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}
void put16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}
void put64(QByteArray &b, quint64 v)
{
    put32(b, quint32(v & 0xFFFFFFFFu));
    put32(b, quint32(v >> 32));
}

void putFmt(QByteArray &b, const AudioFormat &f)
{
    b.append("fmt ", 4);
    put32(b, 16);
    put16(b, 1);
    put16(b, quint16(f.channels));
    put32(b, quint32(f.rate));
    put32(b, quint32(f.rate * f.bytesPerFrame()));
    put16(b, quint16(f.bytesPerFrame()));
    put16(b, quint16(f.bits));
}

// KSDATAFORMAT_SUBTYPE_PCM after its first two bytes.
const unsigned char kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

} // namespace

quint32 parseWavHeader(int fd, qint64 size, WavInfo *info)
{
    unsigned char riff[12];
    if (size < 12 || !readAt(fd, riff, 12, 0))
        return MCIERR_INVALID_FILE;
    const bool rf64 = std::memcmp(riff, "RF64", 4) == 0;
    if ((!rf64 && std::memcmp(riff, "RIFF", 4) != 0) || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return MCIERR_INVALID_FILE;

    bool haveFmt = false;
    bool formatOk = false;
    AudioFormat fmt;
    quint64 ds64Data = 0;
    bool haveDs64 = false;
    qint64 off = 12;
    // A header of any sane file is far shorter; the bound keeps a hostile file from spinning us.
    for (int chunks = 0; chunks < 4096; ++chunks) {
        unsigned char ch[8];
        if (off + 8 > size || !readAt(fd, ch, 8, off))
            return MCIERR_INVALID_FILE;  // ended before the data chunk
        const quint32 csize = le32(ch + 4);
        const qint64 body = off + 8;
        if (std::memcmp(ch, "ds64", 4) == 0 && rf64) {
            unsigned char d[28];
            if (csize < 28 || body + 28 > size || !readAt(fd, d, 28, body))
                return MCIERR_INVALID_FILE;
            ds64Data = le64(d + 8);
            haveDs64 = true;
        } else if (std::memcmp(ch, "fmt ", 4) == 0) {
            unsigned char f[40];
            if (csize < 16 || body + 16 > size)
                return MCIERR_INVALID_FILE;
            const qint64 n = std::min<qint64>(csize, 40);
            if (body + n > size || !readAt(fd, f, n, body))
                return MCIERR_INVALID_FILE;
            quint16 tag = le16(f);
            if (tag == 0xFFFE) {
                // WAVE_FORMAT_EXTENSIBLE: PCM only when the sub-format GUID says so.
                if (csize >= 40 && le16(f + 16) >= 22 && std::memcmp(f + 26, kPcmGuidTail, 14) == 0)
                    tag = le16(f + 24);
                else
                    tag = 0;
            }
            fmt.channels = le16(f + 2);
            fmt.rate = int(std::min<quint32>(le32(f + 4), 0x7FFFFFFF));
            fmt.bits = le16(f + 14);
            const quint16 align = le16(f + 12);
            haveFmt = true;
            formatOk = tag == 1 && (fmt.bits == 8 || fmt.bits == 16) &&
                       (fmt.channels == 1 || fmt.channels == 2) && fmt.rate >= 1000 &&
                       fmt.rate <= 384000;
            if (formatOk && align != fmt.bytesPerFrame())
                return MCIERR_INVALID_FILE;
        } else if (std::memcmp(ch, "data", 4) == 0) {
            if (!haveFmt)
                return MCIERR_INVALID_FILE;
            if (!formatOk)
                return MCIERR_WAVE_FORMAT_UNSUPPORTED;
            qint64 declared = (rf64 && csize == 0xFFFFFFFFu && haveDs64) ? qint64(ds64Data) : qint64(csize);
            if (declared < 0)
                return MCIERR_INVALID_FILE;
            // Data cut short (a copy broken off, a crash) keeps what is there, in whole frames.
            qint64 present = std::min(declared, size - body);
            present -= present % fmt.bytesPerFrame();
            info->format = fmt;
            info->dataOffset = body;
            info->dataBytes = present;
            return MCIERR_NO_ERROR;
        }
        off = body + qint64(csize) + (csize & 1);
    }
    return MCIERR_INVALID_FILE;
}

quint32 readWavHeader(const QString &path, WavInfo *info)
{
    if (path.isEmpty())
        return MCIERR_FILE_NOT_FOUND;
    // Never through a link, never waiting on a FIFO: those are no WAV file of the user's.
    const int fd = openRegularFile(path);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return MCIERR_FILE_NOT_FOUND;
        return (errno == ELOOP || errno == EINVAL || errno == ENXIO) ? MCIERR_INVALID_FILE : MCIERR_FILE_READ;
    }
    struct stat st {};
    quint32 rc;
    if (::fstat(fd, &st) != 0)
        rc = MCIERR_FILE_READ;
    else
        rc = parseWavHeader(fd, st.st_size, info);
    ::close(fd);
    return rc;
}

QByteArray WavHeaderWriter::header(qint64 dataBytes) const
{
    QByteArray b;
    const qint64 pad = dataBytes & 1;
    if (dataBytes <= m_limit) {
        b.reserve(44);
        b.append("RIFF", 4);
        put32(b, quint32(36 + dataBytes + pad));
        b.append("WAVE", 4);
        putFmt(b, m_format);
        b.append("data", 4);
        put32(b, quint32(dataBytes));
        return b;
    }
    b.reserve(80);
    b.append("RF64", 4);
    put32(b, 0xFFFFFFFFu);
    b.append("WAVE", 4);
    b.append("ds64", 4);
    put32(b, 28);
    put64(b, quint64(72 + dataBytes + pad));  // the RIFF size: file length less 8
    put64(b, quint64(dataBytes));
    put64(b, quint64(dataBytes / std::max(1, m_format.bytesPerFrame())));
    put32(b, 0);  // no table
    putFmt(b, m_format);
    b.append("data", 4);
    put32(b, 0xFFFFFFFFu);
    return b;
}

QByteArray WavHeaderWriter::spoolHeader(qint64 dataBytes) const
{
    // The spool's RIFF size counts 36 bytes more than a plain file's, so it turns RF64 that
    // much sooner rather than let the size field wrap.
    QByteArray b = WavHeaderWriter(m_format, std::min(m_limit, kRiffLimit - 36)).header(dataBytes);
    if (b.size() == kSpoolHeaderSize)
        return b;
    // Plain RIFF: the same fields with a 28-byte JUNK chunk in place of the ds64 chunk.
    QByteArray s;
    s.reserve(kSpoolHeaderSize);
    s.append(b.constData(), 12);
    s.append("JUNK", 4);
    put32(s, 28);
    s.append(QByteArray(28, '\0'));
    s.append(b.constData() + 12, 32);
    const quint32 riff = quint32(72 + dataBytes + (dataBytes & 1));
    for (int i = 0; i < 4; ++i)
        s[4 + i] = char((riff >> (8 * i)) & 0xFF);
    return s;
}
