// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saves a WAV file's samples as FLAC or Ogg Vorbis through the recorder's own encoder, reading
// them in place as a save reads the spool, and prints the time and size.
//   bench_encode IN.wav OUT flac|ogg|wav
#include "encoder.h"
#include "wavfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_encode IN.wav OUT flac|ogg|wav\n");
        return 2;
    }
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const SaveFormat format = !std::strcmp(argv[3], "flac") ? SaveFormat::Flac
                              : !std::strcmp(argv[3], "ogg") ? SaveFormat::Vorbis
                                                             : SaveFormat::Wav;
    WavInfo info;
    if (readWavHeader(in, &info) != 0) {
        std::fprintf(stderr, "not a WAV file: %s\n", argv[1]);
        return 1;
    }
    SaveSource source;
    source.fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    source.offset = info.dataOffset;
    source.bytes = info.dataBytes;
    source.format = info.format;
    QElapsedTimer t;
    t.start();
    const SaveResult r = encodeTake(out, format, source);
    const double seconds = t.nsecsElapsed() / 1e9;
    ::close(source.fd);
    if (r.code != 0) {
        std::printf("encode_failed %u %s\n", r.code, r.reason.toLocal8Bit().constData());
        return 1;
    }
    std::printf("encode_seconds %.3f\nencoded_bytes %lld\n", seconds,
                static_cast<long long>(QFileInfo(out).size()));
    return 0;
}
