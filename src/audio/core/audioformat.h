// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The recording's sample format, and the twelve formats the recorder offers.
#pragma once

#include <QtGlobal>

#include <array>

// Interleaved PCM as WAV stores it: 8-bit unsigned or 16-bit signed little-endian.
struct AudioFormat {
    int rate = 0;
    int bits = 0;
    int channels = 0;
    int bytesPerFrame() const { return channels * (bits / 8); }
    bool operator==(const AudioFormat &) const = default;
};

// In the order of the format menu: each rate with 8 and 16 bits, mono and stereo.
inline constexpr std::array<AudioFormat, 12> kRecordingFormats{{
    {11025, 8, 1}, {11025, 8, 2}, {11025, 16, 1}, {11025, 16, 2},
    {22050, 8, 1}, {22050, 8, 2}, {22050, 16, 1}, {22050, 16, 2},
    {44100, 8, 1}, {44100, 8, 2}, {44100, 16, 1}, {44100, 16, 2},
}};
