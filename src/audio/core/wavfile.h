// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Reading and writing the RIFF/WAVE headers of PCM files.
#pragma once

#include "audioformat.h"

#include <QByteArray>
#include <QString>

struct WavInfo {
    AudioFormat format;
    qint64 dataOffset = 0;  // first byte of the samples
    qint64 dataBytes = 0;   // whole frames actually present in the file
};

// Reads the header of the WAV file at path. Returns 0 and fills info, or a device error code:
// missing file, unreadable file, not a RIFF/WAVE file, damaged or truncated header, or a
// format other than 8/16-bit PCM with 1 or 2 channels.
quint32 readWavHeader(const QString &path, WavInfo *info);
// The same on an open descriptor (size = the file's length).
quint32 parseWavHeader(int fd, qint64 size, WavInfo *info);

// Builds headers for a given amount of data. Up to sizeLimit bytes of data fit a plain RIFF
// file with the 44-byte header; beyond it the header is RF64 with a ds64 chunk (80 bytes).
class WavHeaderWriter {
public:
    static constexpr qint64 kRiffLimit = 0xFFFFFFFFLL - 36 - 1;  // leaves room for the pad byte

    explicit WavHeaderWriter(const AudioFormat &format, qint64 sizeLimit = kRiffLimit)
        : m_format(format), m_limit(sizeLimit) {}

    // The header for a file of dataBytes sample bytes (the odd pad byte, if any, follows them).
    QByteArray header(qint64 dataBytes) const;

    // The spool's header: always 80 bytes, with a JUNK chunk where a ds64 chunk can later go,
    // so that a growing file keeps its data offset when it outgrows RIFF.
    QByteArray spoolHeader(qint64 dataBytes) const;
    static constexpr qint64 kSpoolHeaderSize = 80;

private:
    AudioFormat m_format;
    qint64 m_limit;
};
