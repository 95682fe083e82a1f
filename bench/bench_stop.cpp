// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Records short takes from the sound server and stops each at a random moment, to see where a
// stopped take ends against the press and how long Stop takes. One line per take:
//   take N wall_ms W stop_ms S length_ms L saved_ms F mid_wall_ms M mid_stream_ms C
//        press_stream_ms P log <the backend's stop line, if any>
// wall_ms runs from Record()'s return to the press; the *_stream_ms figures are the stream's
// clock (capturedFramesNow) half a second in and just before the press. Run with
// QT_LOGGING_RULES="tavrin.audio.debug=true" for the backend's own view of the stream clock.
//   bench_stop DIR [TAKES] [trace]
// With "trace", one 3-second take prints the stream's clock against the wall clock every 100 ms.
#include "audiobackend.h"
#include "tmediaplayer.h"
#include "wavfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

namespace {
QString lastStopLine;

void keepStopLine(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (msg.contains(QLatin1String("stop:")))
        lastStopLine = msg;
    else if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(msg));
}
}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_stop DIR [TAKES]\n");
        return 2;
    }
    qInstallMessageHandler(keepStopLine);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const int takes = argc > 2 ? QByteArray(argv[2]).toInt() : 10;
    const bool trace = argc > 3 && QByteArray(argv[3]) == "trace";
    QDir().mkpath(dir);

    const AudioFormat format{44100, 16, 2};
    const QString templ = dir + QStringLiteral("/template.wav");
    {
        QFile f(templ);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        f.write(WavHeaderWriter(format).header(0));
    }

    TMediaPlayer player(makeAudioBackend(), dir + QStringLiteral("/spool"));
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> waitMs(1000, 3000);
    const QString target = dir + QStringLiteral("/take.wav");
    for (int take = 0; take < takes; ++take) {
        player.FileName = templ;
        player.Open();
        lastStopLine.clear();
        player.Record();
        QElapsedTimer sinceRecord;
        sinceRecord.start();
        if (player.ErrorCode() != 0) {
            std::printf("record_failed %u\n", player.ErrorCode());
            return 1;
        }
        // The stream's own clock half a second in and at the press: where it stands against
        // the wall clock tells a late start from a short end.
        if (trace) {
            for (int i = 1; i <= 30; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                const double wallMs = sinceRecord.nsecsElapsed() / 1e6;
                const qint64 frames = player.backend().capturedFramesNow();
                std::printf("trace wall_ms %.1f stream_ms %.1f ahead_ms %+.1f\n", wallMs,
                            frames * 1000.0 / format.rate, frames * 1000.0 / format.rate - wallMs);
            }
        }
        const int wait = trace ? 500 : waitMs(rng);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const qint64 midNs = sinceRecord.nsecsElapsed();
        const qint64 midFrames = player.backend().capturedFramesNow();
        std::this_thread::sleep_for(std::chrono::milliseconds(wait - 500));
        const qint64 pressFrames = player.backend().capturedFramesNow();
        const qint64 pressNs = sinceRecord.nsecsElapsed();
        player.Stop();
        const qint64 stopNs = sinceRecord.nsecsElapsed() - pressNs;
        const qint32 length = player.Length();

        QFile::remove(target);
        player.FileName = target;
        player.Save();
        WavInfo info;
        double savedMs = -1;
        if (player.ErrorCode() == 0 && readWavHeader(target, &info) == 0)
            savedMs = double(info.dataBytes / format.bytesPerFrame()) * 1000.0 / format.rate;
        const auto ms = [&](qint64 frames) { return frames * 1000.0 / format.rate; };
        std::printf("take %d wall_ms %.2f stop_ms %.2f length_ms %d saved_ms %.2f mid_wall_ms %.2f "
                    "mid_stream_ms %.2f press_stream_ms %.2f log %s\n",
                    take, pressNs / 1e6, stopNs / 1e6, length, savedMs, midNs / 1e6, ms(midFrames),
                    ms(pressFrames), qPrintable(lastStopLine));
        std::fflush(stdout);
        player.Close();
        QFile::remove(target);
    }
    QFile::remove(templ);
    return 0;
}
