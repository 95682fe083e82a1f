// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saves a WAV file's samples as FLAC, Ogg Vorbis, MP3 or Opus through the recorder's own
// encoder, reading them in place as a save reads the spool, and prints the time and size. With
// --decode, decodes a file through libsndfile and prints its length and rate.
//   bench_encode IN.wav OUT flac|ogg|mp3|opus|wav
//   bench_encode --decode FILE
#include "encoder.h"
#include "wavfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <sndfile.h>

#include <cstdio>
#include <cstring>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

// The frames a decoder gives, read to the end: the header's count could hide a wrong length.
static int decode(const char *path)
{
    SF_INFO info{};
    SNDFILE *sf = sf_open(path, SFM_READ, &info);
    if (!sf) {
        std::printf("decode_failed %s\n", sf_strerror(nullptr));
        return 1;
    }
    std::vector<float> buffer(size_t(65536 * info.channels));
    long long frames = 0;
    for (sf_count_t n; (n = sf_readf_float(sf, buffer.data(), 65536)) > 0;)
        frames += n;
    sf_close(sf);
    std::printf("decoded_frames %lld\ndecoded_rate %d\n", frames, info.samplerate);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 3 && !std::strcmp(argv[1], "--decode"))
        return decode(argv[2]);
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_encode IN.wav OUT flac|ogg|mp3|opus|wav\n"
                             "       bench_encode --decode FILE\n");
        return 2;
    }
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const SaveFormat format = !std::strcmp(argv[3], "flac") ? SaveFormat::Flac
                              : !std::strcmp(argv[3], "ogg")  ? SaveFormat::Vorbis
                              : !std::strcmp(argv[3], "mp3")  ? SaveFormat::Mp3
                              : !std::strcmp(argv[3], "opus") ? SaveFormat::Opus
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
