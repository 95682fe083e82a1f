// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saving a take as WAV, FLAC, Ogg Vorbis, MP3 or Opus from a spool: FLAC gives back every
// sample, the lossy ones the take's length and tone, and a cancelled or failed save leaves the
// folder as it was.
#include "wavtestutil.h"
#include "encoder.h"
#include "tmediaplayer.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sndfile.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// A spool-like file: 80 bytes of header, then `ms` of a tone with noise that reaches both ends
// of the sample range.
struct Spool {
    QByteArray samples;
    SaveSource source;
    Spool(const QString &path, const AudioFormat &format, int ms)
    {
        const qint64 frames = qint64(format.rate) * ms / 1000;
        quint32 noise = 12345;
        for (qint64 i = 0; i < frames; ++i) {
            for (int c = 0; c < format.channels; ++c) {
                noise = noise * 1664525u + 1013904223u;
                double v = 0.8 * std::sin(2 * M_PI * 440.0 * (c + 1) * double(i) / format.rate) +
                           0.3 * (double(noise >> 8) / double(1 << 24) - 0.5);
                if (i % 1000 == 0)
                    v = c ? -1.5 : 1.5;  // clipped peaks
                if (format.bits == 8) {
                    samples.append(char(qBound(0, int(std::lround(128 + 127.5 * v)), 255)));
                } else {
                    const auto s = quint16(qint16(qBound(-32768, int(std::lround(32767.5 * v)), 32767)));
                    samples.append(char(s & 0xFF));
                    samples.append(char(s >> 8));
                }
            }
        }
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray(80, 'h') + samples) != 80 + samples.size())
            qFatal("cannot write the spool");
        f.close();
        source.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        source.offset = 80;
        source.bytes = samples.size();
        source.format = format;
    }
    ~Spool() { ::close(source.fd); }
    // The samples as libsndfile reads them back as shorts.
    std::vector<short> expected() const
    {
        std::vector<short> out;
        const auto *p = reinterpret_cast<const unsigned char *>(samples.constData());
        if (source.format.bits == 8) {
            for (qsizetype i = 0; i < samples.size(); ++i)
                out.push_back(short((p[i] - 128) * 256));
        } else {
            for (qsizetype i = 0; i + 1 < samples.size(); i += 2)
                out.push_back(short(p[i] | (p[i + 1] << 8)));
        }
        return out;
    }
};

using Decoded = wavtest::Sound;
using wavtest::readSound;

// The amplitude of freq in one channel, over the middle half of the decoded take.
double toneLevel(const Decoded &d, int channel, double freq)
{
    const qint64 frames = qint64(d.shorts.size()) / d.channels;
    double s = 0, c = 0;
    for (qint64 i = frames / 4; i < frames * 3 / 4; ++i) {
        const double x = d.shorts[size_t(i * d.channels + channel)] / 32768.0;
        s += x * std::sin(2 * M_PI * freq * double(i) / d.rate);
        c += x * std::cos(2 * M_PI * freq * double(i) / d.rate);
    }
    return 2 * std::hypot(s, c) / double(frames * 3 / 4 - frames / 4);
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TstEncoder : public QObject {
    Q_OBJECT
private slots:
    void everyFormatKeepsTheTake_data()
    {
        wavtest::addTwelveFormats();
    }

    // FLAC must give back exactly the spool's samples; Vorbis keeps the format and the length.
    void everyFormatKeepsTheTake()
    {
        QFETCH(int, rate);
        QFETCH(int, bits);
        QFETCH(int, channels);
        QTemporaryDir dir;
        const Spool spool(dir.filePath("spool"), AudioFormat{rate, bits, channels}, 1300);
        const qint64 frames = spool.source.bytes / spool.source.format.bytesPerFrame();

        const QString flac = dir.filePath("take.flac");
        const SaveResult r = encodeTake(flac, SaveFormat::Flac, spool.source);
        QCOMPARE(r.code, 0u);
        const Decoded f = readSound(flac);
        QCOMPARE(f.format, SF_FORMAT_FLAC | (bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16));
        QCOMPARE(f.rate, rate);
        QCOMPARE(f.channels, channels);
        QCOMPARE(qint64(f.frames), frames);
        QVERIFY(f.shorts == spool.expected());

        const QString ogg = dir.filePath("take.ogg");
        QCOMPARE(encodeTake(ogg, SaveFormat::Vorbis, spool.source).code, 0u);
        const Decoded v = readSound(ogg);
        QCOMPARE(v.format, SF_FORMAT_OGG | SF_FORMAT_VORBIS);
        QCOMPARE(v.rate, rate);
        QCOMPARE(v.channels, channels);
        QCOMPARE(qint64(v.frames), frames);

        // MP3 keeps the rate and, through LAME's gapless header, the exact length. Opus goes up
        // to a rate it takes, keeps the take's in its header, and the length at the new rate.
        const int opusRate = rate == 11025 ? 12000 : rate == 22050 ? 24000 : 48000;
        const struct {
            const char *name;
            SaveFormat format;
            int type;
            int rate;
            qint64 frames;
        } lossy[] = {{"take.mp3", SaveFormat::Mp3, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, rate, frames},
                     {"take.opus", SaveFormat::Opus, SF_FORMAT_OGG | SF_FORMAT_OPUS, opusRate,
                      std::llround(double(frames) * opusRate / rate)}};
        for (const auto &c : lossy) {
            const QString path = dir.filePath(c.name);
            QCOMPARE(encodeTake(path, c.format, spool.source).code, 0u);
            const Decoded d = readSound(path);
            QCOMPARE(d.format, c.type);
            QCOMPARE(d.rate, c.rate);
            QCOMPARE(d.channels, channels);
            QCOMPARE(qint64(d.frames), c.frames);
            QCOMPARE(qint64(d.shorts.size()), c.frames * channels);
            // The spool's 440 Hz (and 880 Hz on the right) at 0.8, under noise at 0.09 RMS: within
            // 0.7 dB (Opus at 12 kHz stereo, 40 kb/s, is the farthest), where a wrong rate or lost
            // samples would leave next to nothing.
            for (int ch = 0; ch < channels; ++ch)
                QVERIFY2(std::abs(toneLevel(d, ch, 440.0 * (ch + 1)) - 0.8) < 0.06, c.name);
        }
        const QByteArray mp3 = wavtest::readFile(dir.filePath("take.mp3"));
        QVERIFY(mp3.startsWith("ID3\x04") && mp3.contains("TSSE") && mp3.contains("Tavrin"));
        QVERIFY(mp3.contains(QDate::currentDate().toString(Qt::ISODate).toLatin1()));
        SF_INFO info{};
        SNDFILE *opus = sf_open(QFile::encodeName(dir.filePath("take.opus")).constData(), SFM_READ, &info);
        int original = 0;
        sf_command(opus, SFC_GET_ORIGINAL_SAMPLERATE, &original, sizeof original);
        QCOMPARE(original, rate);
        QVERIFY(QByteArray(sf_get_string(opus, SF_STR_SOFTWARE)).startsWith("Tavrin"));
        QVERIFY(QByteArray(sf_get_string(opus, SF_STR_DATE)).startsWith(QDate::currentDate().toString(Qt::ISODate).toLatin1()));
        sf_close(opus);

        QCOMPARE(QFileInfo(flac).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        QCOMPARE(entries(dir.path()), (QStringList{"spool", "take.flac", "take.mp3", "take.ogg", "take.opus"}));
    }

    void aCancelledSaveLeavesTheFolderAsItWas()
    {
        QTemporaryDir dir;
        const Spool spool(dir.filePath("spool"), AudioFormat{44100, 16, 2}, 60000);
        QFile old(dir.filePath("old.ogg"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the user's own");
        old.close();

        std::atomic<bool> cancel{true};
        QVERIFY(encodeTake(dir.filePath("new.flac"), SaveFormat::Flac, spool.source, &cancel).cancelled);

        // Cancelled once the encoder is under way.
        for (SaveFormat format : {SaveFormat::Wav, SaveFormat::Vorbis, SaveFormat::Mp3, SaveFormat::Opus}) {
            cancel = false;
            std::atomic<qint64> done{0};
            const SaveResult r = encodeTake(old.fileName(), format, spool.source, &cancel, &done,
                                            [&](qint64 at) { cancel = cancel || at > 0; });
            QVERIFY(done.load() > 0 && done.load() < spool.source.bytes);
            QVERIFY(r.cancelled);
            QCOMPARE(r.code, 0u);
        }
        QCOMPARE(entries(dir.path()), (QStringList{"old.ogg", "spool"}));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("the user's own"));
    }

    void aFailedWriteLeavesNothingAndSaysWhy()
    {
        QTemporaryDir dir;
        const Spool spool(dir.filePath("spool"), AudioFormat{44100, 16, 2}, 12000);

        // The file-size limit stands in for a full disk: every write past it fails.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 64 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        SaveResult results[5];
        int i = 0;
        for (SaveFormat format : {SaveFormat::Wav, SaveFormat::Flac, SaveFormat::Vorbis, SaveFormat::Mp3, SaveFormat::Opus})
            results[i++] = encodeTake(dir.filePath("full"), format, spool.source);
        setrlimit(RLIMIT_FSIZE, &saved);
        for (const SaveResult &r : results) {
            QVERIFY(!r.cancelled);
            QCOMPARE(r.code, quint32(MCIERR_FILE_WRITE));
            QCOMPARE(r.reason, QStringLiteral("ファイルがこのドライブに置ける大きさを超えています。"));
        }

        QCOMPARE(entries(dir.path()), QStringList{"spool"});

        // An empty take would give a file no decoder opens (Vorbis's opens, with no sound).
        SaveSource empty = spool.source;
        empty.bytes = 0;
        for (SaveFormat format : {SaveFormat::Flac, SaveFormat::Mp3, SaveFormat::Opus})
            QCOMPARE(encodeTake(dir.filePath("empty"), format, empty).reason,
                     QStringLiteral("録音が空なので、この形式では保存できません。"));
        QCOMPARE(entries(dir.path()), QStringList{"spool"});
    }
};

QTEST_GUILESS_MAIN(TstEncoder)
#include "tst_encoder.moc"
