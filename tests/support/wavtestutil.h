// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The tests' one set of WAV helpers: a header built by hand (never by the code under test), one
// reader (libsndfile, which the program does not use to read WAV), and the twelve formats.
#pragma once

#include "audioformat.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

#include <sndfile.h>

#include <cstdint>
#include <vector>

namespace wavtest {

inline void put32(QByteArray &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}
inline void put16(QByteArray &b, uint16_t v)
{
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

// A plain 44-byte header that declares dataBytes of samples.
inline QByteArray wavHeader(int rate, int bits, int channels, qint64 dataBytes, uint16_t tag = 1)
{
    QByteArray b;
    b.append("RIFF");
    put32(b, uint32_t(36 + dataBytes));
    b.append("WAVE");
    b.append("fmt ");
    put32(b, 16);
    put16(b, tag);
    put16(b, uint16_t(channels));
    put32(b, uint32_t(rate));
    put32(b, uint32_t(rate * channels * (bits / 8)));
    put16(b, uint16_t(channels * (bits / 8)));
    put16(b, uint16_t(bits));
    b.append("data");
    put32(b, uint32_t(dataBytes));
    return b;
}

// The 44-byte work-file template, optionally with a different format tag and some data.
inline QByteArray templateBytes(int rate, int bits, int channels, uint16_t tag = 1,
                                const QByteArray &data = {})
{
    return wavHeader(rate, bits, channels, data.size(), tag) + data;
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Sound {
    bool ok = false;
    int rate = 0;
    int channels = 0;
    int subtype = 0;  // SF_FORMAT_PCM_U8 or SF_FORMAT_PCM_16
    int major = 0;
    int format = 0;  // major | subtype, as libsndfile names it
    std::vector<int> samples;  // interleaved, as stored: 0..255 for 8-bit, signed for 16-bit
    std::vector<short> shorts;  // interleaved, as libsndfile reads any format as 16-bit
    int64_t frames = 0;
};

inline Sound readSound(const QString &path)
{
    Sound s;
    SF_INFO info{};
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return s;
    s.rate = info.samplerate;
    s.channels = info.channels;
    s.subtype = info.format & SF_FORMAT_SUBMASK;
    s.major = info.format & SF_FORMAT_TYPEMASK;
    s.format = info.format;
    s.frames = info.frames;
    std::vector<short> raw(size_t(info.frames * info.channels));
    const sf_count_t got = sf_readf_short(f, raw.data(), info.frames);
    sf_close(f);
    s.ok = got == info.frames;
    raw.resize(size_t(std::max<sf_count_t>(got, 0) * info.channels));
    s.samples.reserve(raw.size());
    for (short v : raw)
        s.samples.push_back(s.subtype == SF_FORMAT_PCM_U8 ? (v >> 8) + 128 : v);
    s.shorts = std::move(raw);
    return s;
}

// One channel as -1..1, whatever the sample size.
inline std::vector<double> channelOf(const Sound &s, int channel)
{
    std::vector<double> out;
    if (s.channels <= 0)
        return out;
    out.reserve(s.samples.size() / size_t(s.channels));
    for (size_t i = size_t(channel); i < s.samples.size(); i += size_t(s.channels))
        out.push_back(s.subtype == SF_FORMAT_PCM_U8 ? (s.samples[i] - 128) / 128.0 : s.samples[i] / 32768.0);
    return out;
}

// The twelve recording formats as a QtTest data table: columns rate, bits, channels.
inline void addTwelveFormats()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("channels");
    for (const AudioFormat &f : kRecordingFormats)
        QTest::addRow("%d-%d-%d", f.rate, f.bits, f.channels) << f.rate << f.bits << f.channels;
}

} // namespace wavtest
