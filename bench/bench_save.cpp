// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Records a long take through the fake backend as fast as the disk allows, then times Save of
// it a few times. Prints one "save_seconds N" line per run and the take's size.
//   bench_save DIR [MINUTES] [RUNS]
#include "fakeaudiobackend.h"
#include "tmediaplayer.h"
#include "wavfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_save DIR [MINUTES] [RUNS]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const qint64 minutes = argc > 2 ? QByteArray(argv[2]).toLongLong() : 60;
    const int runs = argc > 3 ? QByteArray(argv[3]).toInt() : 5;
    QDir().mkpath(dir);

    const AudioFormat format{44100, 16, 2};
    const QString templ = dir + QStringLiteral("/template.wav");
    {
        QFile f(templ);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 1;
        f.write(WavHeaderWriter(format).header(0));
    }

    auto backend = std::make_unique<FakeAudioBackend>();
    FakeAudioBackend *fake = backend.get();
    TMediaPlayer player(std::move(backend), dir + QStringLiteral("/spool"));
    player.FileName = templ;
    player.Open();
    player.Record();
    QElapsedTimer recordClock;
    recordClock.start();
    const qint64 totalMs = minutes * 60000;
    for (qint64 done = 0; done < totalMs; done += 10000)
        fake->advance(std::min<qint64>(10000, totalMs - done));
    player.Stop();
    std::printf("recorded_ms %d in %.1f s\n", player.Length(), recordClock.elapsed() / 1000.0);

    const QString target = dir + QStringLiteral("/saved.wav");
    for (int run = 0; run < runs; ++run) {
        QFile::remove(target);
        player.FileName = target;
        QElapsedTimer t;
        t.start();
        player.Save();
        const double seconds = t.nsecsElapsed() / 1e9;
        if (player.ErrorCode() != 0) {
            std::printf("save_failed %u\n", player.ErrorCode());
            return 1;
        }
        std::printf("save_seconds %.4f\n", seconds);
        std::fflush(stdout);
    }
    std::printf("saved_bytes %lld\n", static_cast<long long>(QFileInfo(target).size()));
    player.Close();
    QFile::remove(templ);
    return 0;
}
