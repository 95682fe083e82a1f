// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The device against a private PulseAudio server whose default source is a 440 Hz sine at
// -6 dBFS and whose default sink is a null sink.
#include "wavtestutil.h"
#include "audiobackend.h"
#include "realsoundutil.h"
#include "tmediaplayer.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

using namespace wavtest;
using namespace realsound;

namespace {

std::vector<double> channel(const Sound &s, int c, int bits)
{
    std::vector<double> x;
    x.reserve(size_t(s.frames));
    for (qint64 f = 0; f < s.frames; ++f) {
        const int v = s.samples[size_t(f * s.channels + c)];
        x.push_back(bits == 8 ? (v - 128) / 128.0 : v / 32768.0);
    }
    return x;
}

QString pactl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestRealSound : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    std::unique_ptr<TMediaPlayer> makePlayer()
    {
        return std::make_unique<TMediaPlayer>(makeAudioBackend(), m_dir.filePath(QStringLiteral("spool")));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("PULSE_SERVER"), "needs a test sound server (PULSE_SERVER)");
        const QString socket = qEnvironmentVariable("PULSE_SERVER").section(QLatin1Char(':'), 1);
        if (!QFileInfo::exists(socket))
            QSKIP("no test server of this kind is running here");
        QVERIFY(m_dir.isValid());
    }

    void seesTheNullSink()
    {
        auto player = makePlayer();
        QVERIFY(player->outputDeviceCount() > 0);
    }

    void recordsTheSineWithoutGaps_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("channels");
        QTest::newRow("44100 16-bit stereo") << 44100 << 16 << 2;
        QTest::newRow("11025 8-bit mono") << 11025 << 8 << 1;
    }
    void recordsTheSineWithoutGaps()
    {
        QFETCH(int, rate);
        QFETCH(int, bits);
        QFETCH(int, channels);
        auto player = makePlayer();
        player->FileName = m_dir.filePath(QStringLiteral("tavr.wav"));
        QVERIFY(writeFile(player->FileName, templateBytes(rate, bits, channels)));
        player->Open();
        player->Record();
        QCOMPARE(player->ErrorCode(), quint32(0));
        QCOMPARE(player->Mode(), ModeRecording);

        QVERIFY(waitUntil([&] { return player->Position() >= 1000; }, 10000));
        const QString outputs = pactl({QStringLiteral("list"), QStringLiteral("source-outputs")});
        QVERIFY2(outputs.contains(QStringLiteral("application.name = \"Tavrin\"")), qPrintable(outputs));
        QVERIFY(outputs.contains(QStringLiteral("media.role = \"production\"")));

        // A save in the middle must not disturb capture.
        const QString early = m_dir.filePath(QStringLiteral("early.wav"));
        player->FileName = early;
        player->Save();
        QCOMPARE(player->ErrorCode(), quint32(0));
        QCOMPARE(player->Mode(), ModeRecording);

        QVERIFY(waitUntil([&] { return player->Position() >= 2000; }, 10000));
        player->Stop();
        QCOMPARE(player->Mode(), ModeStopped);
        QCOMPARE(player->takeFault().code, quint32(0));
        const qint32 length = player->Length();
        QVERIFY2(std::abs(length - 2000) <= 100, qPrintable(QString::number(length)));
        player->FileName = m_dir.filePath(QStringLiteral("sine.wav"));
        player->Save();
        QCOMPARE(player->ErrorCode(), quint32(0));

        const Sound s = readSound(player->FileName);
        QVERIFY(s.ok);
        QCOMPARE(s.major, SF_FORMAT_WAV);
        QCOMPARE(s.rate, rate);
        QCOMPARE(s.channels, channels);
        QCOMPARE(s.subtype, bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
        QVERIFY(std::abs(s.frames * 1000 / rate - 2000) <= 100);
        QCOMPARE(QFileInfo(player->FileName).size(),
                 44 + s.frames * channels * bits / 8 + ((s.frames * channels * bits / 8) & 1));

        const Sound e = readSound(early);
        QVERIFY(e.ok);
        QVERIFY(e.frames >= rate * 9 / 10 && e.frames < s.frames);
        QVERIFY(std::equal(e.samples.begin(), e.samples.end(), s.samples.begin()));

        for (int c = 0; c < channels; ++c) {
            const std::vector<double> x = channel(s, c, bits);
            // The server may need a moment to bring the source up to level.
            const size_t from = size_t(rate / 20);
            const size_t to = x.size() - 2;
            double peak = 0;
            int crossings = 0;
            for (size_t i = from; i < to; ++i) {
                peak = std::max(peak, std::abs(x[i]));
                if (x[i] < 0 && x[i + 1] >= 0)
                    ++crossings;
            }
            const double seconds = double(to - from) / rate;
            const double freq = crossings / seconds;
            QVERIFY2(std::abs(freq - 440) < 5, qPrintable(QString::number(freq)));
            const double peakDb = 20 * std::log10(peak);
            // The source is a stereo sine at -6 dBFS. Taken as mono, PulseAudio averages the two
            // channels and PipeWire adds them (+3 dB).
            const bool summed = channels == 1 && qEnvironmentVariable("TAVR_TEST_SERVER") == QLatin1String("pipewire");
            const double expectedDb = summed ? -3 : -6;
            QVERIFY2(std::abs(peakDb - expectedDb) < 1.5, qPrintable(QString::number(peakDb)));
            QVERIFY(goertzel(x, from, size_t(rate / 2), 440, rate) > 100 * goertzel(x, from, size_t(rate / 2), 600, rate));

            // A pure sine obeys x[n+1] = 2 cos(w) x[n] - x[n-1]; a lost or doubled block breaks it.
            const double k = 2 * std::cos(2 * M_PI * 440 / rate);
            double worst = 0;
            size_t worstAt = 0;
            for (size_t i = from + 1; i < to; ++i) {
                const double r = std::abs(x[i + 1] - k * x[i] + x[i - 1]);
                if (r > worst) {
                    worst = r;
                    worstAt = i;
                }
            }
            qInfo("channel %d: %.2f Hz, peak %.2f dBFS, worst residual %.4f at frame %zu, length %d ms",
                  c, freq, peakDb, worst, worstAt, length);
            const double limit = bits == 8 ? 0.08 : 0.02;
            QVERIFY2(worst < limit, qPrintable(QStringLiteral("residual %1 at frame %2").arg(worst).arg(worstAt)));
        }
    }

    void playsToTheEnd()
    {
        const int rate = 44100;
        QByteArray data;
        for (int i = 0; i < rate * 3 / 2; ++i) {
            const qint16 v = qint16(std::lround(8000 * std::sin(2 * M_PI * 440 * i / rate)));
            for (int c = 0; c < 2; ++c) {
                data.append(char(v & 0xFF));
                data.append(char((v >> 8) & 0xFF));
            }
        }
        const QString src = m_dir.filePath(QStringLiteral("tone.wav"));
        QVERIFY(writeFile(src, templateBytes(rate, 16, 2, 1, data)));

        auto player = makePlayer();
        player->FileName = src;
        player->Open();
        QCOMPARE(player->Length(), 1500);
        QElapsedTimer clock;
        clock.start();
        player->Play();
        QCOMPARE(player->ErrorCode(), quint32(0));
        QCOMPARE(player->Mode(), ModePlaying);
        QVERIFY(waitUntil([&] { return player->Position() > 200; }, 5000));
        const QString inputs = pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")});
        QVERIFY2(inputs.contains(QStringLiteral("application.name = \"Tavrin\"")), qPrintable(inputs));

        qint32 last = 0;
        bool monotonic = true;
        QVERIFY(waitUntil([&] {
            const qint32 p = player->Position();
            monotonic = monotonic && p >= last && p <= 1500;
            last = p;
            return player->Mode() != ModePlaying;
        }, 15000));
        const qint64 elapsed = clock.elapsed();
        QVERIFY(monotonic);
        QCOMPARE(player->Mode(), ModeStopped);
        QCOMPARE(player->Position(), player->Length());
        QCOMPARE(player->takeFault().code, quint32(0));
        QVERIFY2(elapsed >= 1400 && elapsed < 6000, qPrintable(QString::number(elapsed)));

        // Play at the end starts again from the beginning.
        player->Play();
        QVERIFY(waitUntil([&] { return player->Position() > 100; }, 5000));
        QVERIFY(player->Position() < 1500);
        player->Stop();
        const qint32 paused = player->Position();
        QVERIFY(paused > 100 && paused < 1500);
        QTest::qWait(200);
        QCOMPARE(player->Position(), paused);
    }
};

QTEST_GUILESS_MAIN(TestRealSound)
#include "tst_realsound.moc"
