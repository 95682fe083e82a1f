// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saving a take in the format the user chose: WAV as it is, FLAC (lossless), or Ogg Vorbis,
// MP3 and Opus (lossy, small), encoded from the spool by libsndfile. A save runs on a thread of
// its own, can be cancelled, and leaves either the whole new file or nothing.
#pragma once

#include "audioformat.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

enum class SaveFormat { Wav, Flac, Vorbis, Mp3, Opus };

// Vorbis's own quality scale (0 to 1; oggenc's -q 5 is 0.5): transparent for speech and most
// music. On music at 44.1 kHz stereo it came to 124 kb/s, an eleventh of WAV's size.
constexpr double kVorbisQuality = 0.5;

// LAME's variable-rate scale, as `lame -V`: 2 sounds transparent at 44.1 kHz stereo.
constexpr int kMp3VbrQuality = 2;

// Opus takes 8, 12, 16, 24 and 48 kHz only: a take goes up to the nearest of them.
int opusRateFor(int rate);
// The Opus bit rate in b/s: 96 kb/s for 44.1 kHz stereo, less for mono and lower rates.
int opusBitrateFor(int rate, int channels);

// The format for a chosen name: its extension when it is one of ours, else the save dialog's
// filter (1 = WAV, 2 = FLAC, 3 = Ogg Vorbis, 4 = MP3, 5 = Opus, in the dialog's order).
SaveFormat saveFormatFor(const QString &path, int filterIndex);

// A recording to save: bytes sample bytes at offset in fd, in the take's format.
struct SaveSource {
    int fd = -1;  // dup'ed, the caller closes it
    qint64 offset = 0;
    qint64 bytes = 0;
    AudioFormat format;
};

struct SaveResult {
    quint32 code = 0;    // 0, or a device error code
    QString reason;      // for the user, in Japanese, when code is not 0
    bool cancelled = false;
};

// Writes the take to path in the given format, whole or nothing. Any thread. cancel is read
// between pieces; done counts the sample bytes consumed so far, and step (on the saving thread)
// is told each new count.
SaveResult encodeTake(const QString &path, SaveFormat format, const SaveSource &source,
                      const std::atomic<bool> *cancel = nullptr, std::atomic<qint64> *done = nullptr,
                      const std::function<void(qint64)> &step = {});

// encodeTake on a thread of its own. Owns source.fd from here on.
class SaveJob {
public:
    SaveJob(QString path, SaveFormat format, SaveSource source);
    ~SaveJob();  // cancels a save still running and waits for it
    SaveJob(const SaveJob &) = delete;
    SaveJob &operator=(const SaveJob &) = delete;

    bool finished() const { return m_finished.load(); }
    int percent() const;
    void cancel() { m_cancel = true; }
    // Waits for the end; the result of a save that committed before the cancel was seen is a
    // success.
    SaveResult wait();

private:
    SaveSource m_source;
    SaveResult m_result;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_finished{false};
    std::atomic<qint64> m_done{0};
    std::thread m_thread;
};
