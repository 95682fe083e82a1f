// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "fakeaudiobackend.h"
#include "tmediaplayer.h"
#include "wavtestutil.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using namespace wavtest;

namespace {

const QString kNoDevice = QStringLiteral("MCI デバイスがありません");

// The ramp the fake backend captures, checked frame by frame from a given first frame.
bool isRamp(const Sound &s, qint64 firstFrame, int bits, QString *why = nullptr)
{
    for (qint64 f = 0; f < s.frames; ++f) {
        for (int c = 0; c < s.channels; ++c) {
            const int want = FakeAudioBackend::rampSample(firstFrame + f, c, bits);
            const int got = s.samples[size_t(f * s.channels + c)];
            if (got != want) {
                if (why)
                    *why = QStringLiteral("frame %1 channel %2: %3, want %4").arg(f).arg(c).arg(got).arg(want);
                return false;
            }
        }
    }
    return true;
}

// Lowers the file-size limit for the current process, so that writes fail as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_old;
        lim.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() { lift(); }
    void lift()
    {
        if (m_active) {
            setrlimit(RLIMIT_FSIZE, &m_old);
            std::signal(SIGXFSZ, m_oldHandler);
            m_active = false;
        }
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = true;
};

} // namespace

class TestTMediaPlayer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TMediaPlayer> m_player;
    FakeAudioBackend *m_fake = nullptr;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString spoolDir() const { return m_dir.filePath(QStringLiteral("spool")); }

    void openTemplate(int rate, int bits, int channels)
    {
        const QString work = path(QStringLiteral("tavr.wav"));
        QVERIFY(writeFile(work, templateBytes(rate, bits, channels)));
        m_player->FileName = work;
        m_player->Open();
    }

    // Records ms milliseconds and stops.
    void recordFor(qint64 ms)
    {
        m_player->Record();
        m_fake->advance(ms);
        m_player->Stop();
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        auto fake = std::make_unique<FakeAudioBackend>();
        m_fake = fake.get();
        m_player = std::make_unique<TMediaPlayer>(std::move(fake), spoolDir());
    }
    void cleanup()
    {
        m_player.reset();
        QDir(spoolDir()).removeRecursively();
    }

    void operationsWithoutDeviceRaise_data()
    {
        QTest::addColumn<int>("op");
        QTest::newRow("Play") << 0;
        QTest::newRow("Record") << 1;
        QTest::newRow("Stop") << 2;
        QTest::newRow("Rewind") << 3;
        QTest::newRow("Seek") << 4;
        QTest::newRow("Save") << 5;
        QTest::newRow("Length") << 6;
    }
    void operationsWithoutDeviceRaise()
    {
        QFETCH(int, op);
        m_player->SetTimeFormat(0);
        const quint32 before = m_player->ErrorCode();
        m_player->FileName = path(QStringLiteral("out.wav"));
        const std::function<void()> ops[] = {
            [&] { m_player->Play(); },   [&] { m_player->Record(); },
            [&] { m_player->Stop(); },   [&] { m_player->Rewind(); },
            [&] { m_player->Seek(0); },  [&] { m_player->Save(); },
            [&] { m_player->Length(); },
        };
        try {
            ops[op]();
            QFAIL("no exception");
        } catch (const EMCIDeviceError &e) {
            QCOMPARE(e.message(), kNoDevice);
        }
        QVERIFY(!m_player->Opened());
        QCOMPARE(m_player->DeviceId(), quint16(0));
        QCOMPARE(m_player->ErrorCode(), before);
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("out.wav"))));
        QVERIFY(!QFileInfo::exists(spoolDir()) || QDir(spoolDir()).isEmpty());
    }

    void quietOperationsWithoutDevice()
    {
        m_player->Close();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        m_player->SetTimeFormat(0);
        QVERIFY(m_player->ErrorCode() != 0);
        QString text;
        QVERIFY(mciGetErrorString(m_player->ErrorCode(), &text));

        openTemplate(11025, 8, 1);
        m_player->Close();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        m_player->Position();
        QVERIFY(m_player->ErrorCode() != 0);
        m_player->Close();  // again: nothing to close, nothing changes
        QVERIFY(m_player->ErrorCode() != 0);
        m_player->Mode();
        QVERIFY(m_player->ErrorCode() != 0);
        QVERIFY(!m_player->Opened());
    }

    void timeFormat()
    {
        openTemplate(22050, 16, 1);
        m_player->SetTimeFormat(0);
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        m_player->SetTimeFormat(3);
        QCOMPARE(m_player->ErrorCode(), quint32(MCIERR_BAD_TIME_FORMAT));
    }

    void deviceIdsAreFreshPerOpen()
    {
        openTemplate(44100, 16, 2);
        const quint16 first = m_player->DeviceId();
        QVERIFY(first != 0);
        QVERIFY(m_player->Opened());
        m_player->Open();  // closes and opens again
        QVERIFY(m_player->DeviceId() != 0);
        QVERIFY(m_player->DeviceId() != first);
        m_player->Close();
        QCOMPARE(m_player->DeviceId(), quint16(0));
        QVERIFY(!m_player->Opened());
    }

    void templateOpensInItsFormat_data()
    {
        addTwelveFormats();
    }
    void templateOpensInItsFormat()
    {
        QFETCH(int, rate);
        QFETCH(int, bits);
        QFETCH(int, channels);
        openTemplate(rate, bits, channels);
        const QByteArray templ = readFile(path(QStringLiteral("tavr.wav")));
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Position(), 0);
        QCOMPARE(m_player->Length(), 0);

        recordFor(1500);
        QCOMPARE(m_player->Length(), 1500);
        QCOMPARE(m_player->Position(), 1500);
        m_player->FileName = path(QStringLiteral("saved.wav"));
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(0));

        const Sound s = readSound(m_player->FileName);
        QVERIFY(s.ok);
        QCOMPARE(s.major, SF_FORMAT_WAV);
        QCOMPARE(s.rate, rate);
        QCOMPARE(s.channels, channels);
        QCOMPARE(s.subtype, bits == 8 ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
        QCOMPARE(s.frames, qint64(rate) * 3 / 2);
        QString why;
        QVERIFY2(isRamp(s, 0, bits, &why), qPrintable(why));

        // The plain 44-byte header, and the template never touched.
        const QByteArray saved = readFile(m_player->FileName);
        const qint64 dataBytes = s.frames * channels * bits / 8;
        QCOMPARE(saved.size(), 44 + dataBytes + (dataBytes & 1));
        QCOMPARE(saved.mid(36, 4), QByteArray("data"));
        QCOMPARE(saved.left(36), templateBytes(rate, bits, channels).left(36).replace(4, 4, [&] {
            QByteArray b;
            put32(b, uint32_t(36 + dataBytes + (dataBytes & 1)));
            return b;
        }()));
        QCOMPARE(readFile(path(QStringLiteral("tavr.wav"))), templ);
    }

    void oddEightBitDataGetsItsPadByte()
    {
        openTemplate(11025, 8, 1);
        recordFor(1);  // 11 frames: an odd number of bytes
        m_player->FileName = path(QStringLiteral("odd.wav"));
        m_player->Save();
        const QByteArray b = readFile(m_player->FileName);
        QCOMPARE(b.size(), 44 + 11 + 1);
        QCOMPARE(quint8(b[4]), quint8(36 + 12));
        QCOMPARE(quint8(b[40]), quint8(11));
        QCOMPARE(readSound(m_player->FileName).frames, qint64(11));
    }

    void openRefusesBadFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("create");
        QTest::addColumn<quint32>("code");
        const QByteArray good = templateBytes(22050, 16, 2);
        QTest::newRow("missing") << QByteArray() << false << quint32(MCIERR_FILE_NOT_FOUND);
        QTest::newRow("empty") << QByteArray() << true << quint32(MCIERR_INVALID_FILE);
        QTest::newRow("truncated header") << good.left(30) << true << quint32(MCIERR_INVALID_FILE);
        QTest::newRow("no data chunk") << good.left(36) << true << quint32(MCIERR_INVALID_FILE);
        QTest::newRow("text") << QByteArray("just some text, not a sound at all\n").repeated(3) << true
                              << quint32(MCIERR_INVALID_FILE);
        QByteArray avi = good;
        avi.replace(8, 4, "AVI ");
        QTest::newRow("riff but not wave") << avi << true << quint32(MCIERR_INVALID_FILE);
        QByteArray noFmt = good;
        noFmt.replace(12, 4, "junk");
        QTest::newRow("data before fmt") << noFmt << true << quint32(MCIERR_INVALID_FILE);
        QByteArray badAlign = good;
        badAlign[32] = 7;
        QTest::newRow("block align wrong") << badAlign << true << quint32(MCIERR_INVALID_FILE);
        QByteArray hugeChunk = good;
        hugeChunk.replace(12, 4, "LIST");
        hugeChunk.replace(16, 4, QByteArray("\xF0\xFF\xFF\x7F", 4));
        QTest::newRow("chunk runs past the end") << hugeChunk << true << quint32(MCIERR_INVALID_FILE);
        QTest::newRow("float") << templateBytes(44100, 32, 2, 3) << true
                               << quint32(MCIERR_WAVE_FORMAT_UNSUPPORTED);
        QTest::newRow("adpcm") << templateBytes(22050, 16, 1, 2) << true
                               << quint32(MCIERR_WAVE_FORMAT_UNSUPPORTED);
        QTest::newRow("24-bit pcm") << templateBytes(44100, 24, 2) << true
                                    << quint32(MCIERR_WAVE_FORMAT_UNSUPPORTED);
        QTest::newRow("six channels") << templateBytes(44100, 16, 6) << true
                                      << quint32(MCIERR_WAVE_FORMAT_UNSUPPORTED);
        QTest::newRow("rate zero") << templateBytes(0, 16, 2) << true
                                   << quint32(MCIERR_WAVE_FORMAT_UNSUPPORTED);
    }
    void openRefusesBadFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, create);
        QFETCH(quint32, code);
        openTemplate(11025, 8, 1);  // a held device is closed by the failing Open
        QVERIFY(m_player->Opened());
        const QString bad = path(QStringLiteral("bad.wav"));
        QFile::remove(bad);
        if (create)
            QVERIFY(writeFile(bad, content));
        m_player->FileName = bad;
        QString expected;
        QVERIFY(mciGetErrorString(code, &expected));
        try {
            m_player->Open();
            QFAIL("Open accepted a bad file");
        } catch (const EMCIDeviceError &e) {
            QCOMPARE(e.message(), expected);
        }
        QCOMPARE(m_player->ErrorCode(), code);
        QVERIFY(!m_player->Opened());
        QCOMPARE(m_player->DeviceId(), quint16(0));
        if (create)
            QCOMPARE(readFile(bad), content);
    }

    void openOfAFolderIsRefused()
    {
        m_player->FileName = m_dir.path();
        QVERIFY_THROWS_EXCEPTION(EMCIDeviceError, m_player->Open());
        QVERIFY(!m_player->Opened());
    }

    void unknownCodesHaveNoText()
    {
        QString text = QStringLiteral("unchanged");
        QVERIFY(!mciGetErrorString(99999, &text));
        QCOMPARE(text, QStringLiteral("unchanged"));
        for (quint32 code : {MCIERR_FILE_NOT_FOUND, MCIERR_INVALID_FILE, MCIERR_FILE_NOT_SAVED,
                             MCIERR_FILE_WRITE, MCIERR_CANNOT_LOAD_DRIVER}) {
            QVERIFY(mciGetErrorString(code, &text));
            QVERIFY(!text.isEmpty());
        }
    }

    void openOfASoundFileMakesItTheRecording()
    {
        QByteArray data;
        for (int i = 0; i < 11025; ++i)
            data.append(char(FakeAudioBackend::rampSample(i, 0, 8)));
        const QString src = path(QStringLiteral("src.wav"));
        // A data chunk that claims more than the file holds keeps what is there.
        QByteArray bytes = templateBytes(11025, 8, 1, 1, data);
        bytes.replace(40, 4, QByteArray("\x00\x00\x10\x00", 4));
        QVERIFY(writeFile(src, bytes));
        m_player->FileName = src;
        m_player->Open();
        QCOMPARE(m_player->Length(), 1000);
        QCOMPARE(m_player->Position(), 0);
        m_player->Play();
        m_fake->advance(1000);
        QCOMPARE(m_player->Position(), 1000);
        m_fake->advance(1);  // the device learns of the end when it asks for more
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_fake->playedFrames(), qint64(11025));
        QCOMPARE(m_fake->lastPlayedSample(), FakeAudioBackend::rampSample(11024, 0, 8));
        QCOMPARE(readFile(src), bytes);
    }

    void playbackEndsExactlyAtTheLength_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("recordMs");
        QTest::addColumn<bool>("realTime");
        QTest::newRow("44100 inline") << 44100 << 2500 << false;
        QTest::newRow("11025 odd length") << 11025 << 1337 << false;
        QTest::newRow("22050 through the disk thread") << 22050 << 3001 << true;
    }
    void playbackEndsExactlyAtTheLength()
    {
        QFETCH(int, rate);
        QFETCH(int, recordMs);
        QFETCH(bool, realTime);
        m_fake->setRealTime(realTime);
        openTemplate(rate, 16, 2);
        recordFor(recordMs);
        const qint32 length = m_player->Length();
        QCOMPARE(length, recordMs);
        m_player->Rewind();
        QCOMPARE(m_player->Position(), 0);
        m_player->Play();
        QCOMPARE(m_player->Mode(), ModePlaying);
        m_fake->advance(1000);
        QCOMPARE(m_player->Position(), 1000);
        QCOMPARE(m_player->Mode(), ModePlaying);
        m_fake->advance(recordMs);  // well past the end
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Position(), length);
        QCOMPARE(m_player->Length(), length);
        QCOMPARE(m_fake->playedFrames(), qint64(rate) * recordMs / 1000);
    }

    void playAtTheEndRewinds()
    {
        openTemplate(44100, 16, 1);
        recordFor(2000);
        QCOMPARE(m_player->Position(), m_player->Length());
        m_player->Play();
        m_fake->advance(300);
        QCOMPARE(m_player->Position(), 300);
        QCOMPARE(m_player->Mode(), ModePlaying);
    }

    void pauseKeepsThePlaybackPosition()
    {
        openTemplate(22050, 8, 2);
        recordFor(3000);
        m_player->Stop();
        m_player->Rewind();
        m_player->Play();
        m_fake->advance(1200);
        m_player->Stop();
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Position(), 1200);
        m_fake->advance(500);  // the clock runs on, the stopped device does not
        QCOMPARE(m_player->Position(), 1200);
        m_player->Play();
        m_fake->advance(300);
        QCOMPARE(m_player->Position(), 1500);
    }

    void seekLeavesTheDeviceStopped()
    {
        openTemplate(44100, 16, 2);
        recordFor(20000);
        m_player->Rewind();
        m_player->Play();
        m_fake->advance(2000);
        m_player->Seek(12000);
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Position(), 12000);
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        m_fake->advance(1000);
        QCOMPARE(m_player->Position(), 12000);
        m_player->Play();
        m_fake->advance(1000);
        QCOMPARE(m_player->Position(), 13000);
        const qint64 played = m_fake->playedFrames();

        m_player->Seek(25000);  // past the end: refused, but the device still stops
        QCOMPARE(m_player->ErrorCode(), quint32(MCIERR_OUTOFRANGE));
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Position(), 13000);
        m_fake->advance(1000);
        QCOMPARE(m_fake->playedFrames(), played);
    }

    void seekToEveryMillisecondRoundTrips()
    {
        openTemplate(11025, 8, 1);
        recordFor(50);
        for (qint32 ms = 0; ms <= 50; ++ms) {
            m_player->Seek(ms);
            QCOMPARE(m_player->Position(), ms);
        }
    }

    void recordAfterPauseAppends_data()
    {
        QTest::addColumn<bool>("realTime");
        QTest::newRow("inline") << false;
        QTest::newRow("disk thread") << true;
    }
    void recordAfterPauseAppends()
    {
        QFETCH(bool, realTime);
        m_fake->setRealTime(realTime);
        openTemplate(22050, 16, 2);
        recordFor(1000);
        m_player->Rewind();  // a recording grows at its end whatever the position
        m_player->Record();
        QCOMPARE(m_player->Mode(), ModeRecording);
        m_fake->advance(700);
        QCOMPARE(m_player->Position(), 1700);
        m_player->Stop();
        QCOMPARE(m_player->Length(), 1700);
        QCOMPARE(m_player->Position(), 1700);
        m_player->FileName = path(QStringLiteral("both.wav"));
        m_player->Save();
        const Sound s = readSound(m_player->FileName);
        QCOMPARE(s.frames, qint64(22050 * 17 / 10));
        QString why;
        QVERIFY2(isRamp(s, 0, 16, &why), qPrintable(why));
    }

    void saveDuringRecordingTakesWhatIsThere_data()
    {
        QTest::addColumn<bool>("realTime");
        QTest::newRow("inline") << false;
        QTest::newRow("disk thread") << true;
    }
    void saveDuringRecordingTakesWhatIsThere()
    {
        QFETCH(bool, realTime);
        m_fake->setRealTime(realTime);
        openTemplate(44100, 16, 2);
        m_player->Record();
        m_fake->advance(1000);
        m_player->FileName = path(QStringLiteral("a.wav"));
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        QCOMPARE(m_player->Mode(), ModeRecording);
        m_fake->advance(500);
        m_player->FileName = path(QStringLiteral("b.wav"));
        m_player->Save();
        m_fake->advance(250);
        m_player->Stop();
        QCOMPARE(m_player->Length(), 1750);
        m_player->FileName = path(QStringLiteral("c.wav"));
        m_player->Save();

        const qint64 expect[] = {44100, 66150, 77175};
        const char *names[] = {"a.wav", "b.wav", "c.wav"};
        for (int i = 0; i < 3; ++i) {
            const Sound s = readSound(path(QString::fromLatin1(names[i])));
            QVERIFY(s.ok);
            QCOMPARE(s.frames, expect[i]);
            QString why;
            QVERIFY2(isRamp(s, 0, 16, &why), qPrintable(QString::fromLatin1(names[i]) + u' ' + why));
        }
    }

    void saveWithoutNameDoesNothing()
    {
        openTemplate(11025, 8, 1);
        recordFor(100);
        m_player->SetTimeFormat(9);
        const quint32 before = m_player->ErrorCode();
        const QStringList files = QDir(m_dir.path()).entryList(QDir::Files);
        m_player->FileName.clear();
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), before);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), files);
    }

    void saveOfAnEmptyRecordingWritesAnEmptyWav()
    {
        openTemplate(44100, 16, 2);
        m_player->FileName = path(QStringLiteral("empty.wav"));
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        QCOMPARE(readFile(m_player->FileName), templateBytes(44100, 16, 2));
    }

    void saveReplacesTheTargetWhole()
    {
        openTemplate(22050, 16, 1);
        recordFor(400);
        const QString target = path(QStringLiteral("target.wav"));
        QVERIFY(writeFile(target, QByteArray("an older file that must go away entirely").repeated(5000)));
        m_player->FileName = target;
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        QCOMPARE(QFileInfo(target).size(), 44 + 22050 * 2 * 4 / 10);
        QCOMPARE(readSound(target).frames, qint64(22050 * 4 / 10));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Hidden | QDir::Files).filter(QStringLiteral(".tmp")),
                 QStringList());
    }

    void failedSaveKeepsTheOldFile()
    {
        openTemplate(44100, 16, 2);
        recordFor(1000);
        const QString target = path(QStringLiteral("keep.wav"));
        const QByteArray old = templateBytes(8000, 8, 1, 1, QByteArray(3000, 'x'));
        QVERIFY(writeFile(target, old));
        {
            FileSizeLimit limit(64 * 1024);  // the disk fills up halfway through the save
            m_player->FileName = target;
            m_player->Save();
        }
        QCOMPARE(m_player->ErrorCode(), quint32(MCIERR_FILE_WRITE));
        QCOMPARE(readFile(target), old);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Hidden | QDir::Files).filter(QStringLiteral(".tmp")),
                 QStringList());

        m_player->FileName = path(QStringLiteral("no such folder/x.wav"));
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(MCIERR_FILE_NOT_SAVED));
        QString text;
        QVERIFY(mciGetErrorString(m_player->ErrorCode(), &text));

        // The recording itself is unharmed: a later save works.
        m_player->FileName = target;
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        QCOMPARE(readSound(target).frames, qint64(44100));
    }

    void spoolIsAWavWithACurrentHeader()
    {
        openTemplate(44100, 16, 2);
        QVERIFY(m_player->spoolPath().isEmpty());
        m_player->Record();
        const QString spool = m_player->spoolPath();
        QCOMPARE(QFileInfo(spool).absolutePath(), QFileInfo(spoolDir()).absoluteFilePath());
        QVERIFY(QFileInfo(spool).fileName().startsWith(
            QStringLiteral("spool-%1-").arg(QCoreApplication::applicationPid())));
        m_fake->advance(1000);
        // Readable as it stands, as after a crash, with at least all but the last second.
        QCOMPARE(readSound(spool).frames, qint64(44100));
        m_fake->advance(2500);
        QVERIFY(readSound(spool).frames >= 44100 * 5 / 2);
        m_player->Stop();
        const Sound s = readSound(spool);
        QCOMPARE(s.frames, qint64(44100 * 7 / 2));
        QString why;
        QVERIFY2(isRamp(s, 0, 16, &why), qPrintable(why));

        m_player->Close();
        QVERIFY(!QFileInfo::exists(spool));
    }

    void newOpenAndDestructionDiscardTheSpool()
    {
        openTemplate(11025, 16, 1);
        recordFor(100);
        const QString first = m_player->spoolPath();
        QVERIFY(QFileInfo::exists(first));
        m_player->Open();
        QVERIFY(!QFileInfo::exists(first));
        QCOMPARE(m_player->Length(), 0);
        m_player->Record();
        m_fake->advance(100);
        const QString second = m_player->spoolPath();
        QVERIFY(QFileInfo::exists(second));
        m_player.reset();  // while recording
        QVERIFY(!QFileInfo::exists(second));
    }

    void streamFailureStopsAndKeepsTheRecording_data()
    {
        QTest::addColumn<bool>("realTime");
        QTest::newRow("inline") << false;
        QTest::newRow("disk thread") << true;
    }
    void streamFailureStopsAndKeepsTheRecording()
    {
        QFETCH(bool, realTime);
        m_fake->setRealTime(realTime);
        openTemplate(22050, 8, 1);
        m_player->Record();
        m_fake->advance(800);
        m_fake->failStream(MCIERR_CANNOT_LOAD_DRIVER);
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Length(), 800);
        QCOMPARE(m_player->Position(), 800);
        DeviceFault f = m_player->takeFault();
        QCOMPARE(f.code, quint32(MCIERR_CANNOT_LOAD_DRIVER));
        QString text;
        QVERIFY(mciGetErrorString(f.code, &text));
        QCOMPARE(f.text, text);
        QCOMPARE(m_player->takeFault().code, quint32(0));

        m_player->FileName = path(QStringLiteral("rescued.wav"));
        m_player->Save();
        QCOMPARE(readSound(m_player->FileName).frames, qint64(22050 * 8 / 10));

        // The same during playback: stopped where it broke off.
        m_player->Rewind();
        m_player->Play();
        m_fake->advance(300);
        m_fake->failStream(MCIERR_CANNOT_LOAD_DRIVER);
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Position(), 300);
        QCOMPARE(m_player->takeFault().code, quint32(MCIERR_CANNOT_LOAD_DRIVER));
    }

    void refusedStreamIsAnErrorCodeAndAFault()
    {
        openTemplate(44100, 16, 2);
        m_fake->refuseStart(MCIERR_CANNOT_LOAD_DRIVER);
        m_player->Record();
        QCOMPARE(m_player->ErrorCode(), quint32(MCIERR_CANNOT_LOAD_DRIVER));
        QCOMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Length(), 0);
        QCOMPARE(m_player->takeFault().code, quint32(MCIERR_CANNOT_LOAD_DRIVER));
        m_fake->refuseStart(0);
        recordFor(100);
        QCOMPARE(m_player->Length(), 100);
    }

    void diskFullWhileRecordingKeepsWhatWasWritten_data()
    {
        QTest::addColumn<bool>("realTime");
        QTest::newRow("inline") << false;
        QTest::newRow("disk thread") << true;
    }
    void diskFullWhileRecordingKeepsWhatWasWritten()
    {
        QFETCH(bool, realTime);
        m_fake->setRealTime(realTime);
        openTemplate(11025, 8, 1);
        m_player->Record();
        FileSizeLimit limit(80 + 5001);
        m_fake->advance(1000);
        // The disk thread meets the full disk on its own time.
        QTRY_COMPARE(m_player->Mode(), ModeStopped);
        QCOMPARE(m_player->Length(), qRound(5001 * 1000.0 / 11025));
        QCOMPARE(m_player->takeFault().code, quint32(MCIERR_FILE_WRITE));
        limit.lift();

        m_player->FileName = path(QStringLiteral("partial.wav"));
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        const Sound s = readSound(m_player->FileName);
        QCOMPARE(s.frames, qint64(5001));
        QString why;
        QVERIFY2(isRamp(s, 0, 8, &why), qPrintable(why));
        m_player->Rewind();
        m_player->Play();
        m_fake->advance(1000);
        QCOMPARE(m_player->Position(), m_player->Length());
        QCOMPARE(m_fake->playedFrames(), qint64(5001));
    }

    void unusableSpoolFolderIsAnErrorCodeAndAFault()
    {
        const QString blocker = path(QStringLiteral("a file"));
        QVERIFY(writeFile(blocker, "not a folder"));
        auto fake = std::make_unique<FakeAudioBackend>();
        TMediaPlayer player(std::move(fake), blocker + QStringLiteral("/spool"));
        player.FileName = path(QStringLiteral("tavr.wav"));
        QVERIFY(writeFile(player.FileName, templateBytes(44100, 16, 2)));
        player.Open();  // opening needs no spool yet
        player.Record();
        QCOMPARE(player.ErrorCode(), quint32(MCIERR_SPOOL_CREATE));
        QCOMPARE(player.Mode(), ModeStopped);
        QCOMPARE(player.takeFault().code, quint32(MCIERR_SPOOL_CREATE));
    }

    void outputDeviceCountComesFromTheBackend()
    {
        QCOMPARE(m_player->outputDeviceCount(), 1);
        m_fake->setOutputDeviceCount(0);
        QCOMPARE(m_player->outputDeviceCount(), 0);
    }

    void factoryPicksTheFakeOnRequest()
    {
        qputenv("TAVRIN_AUDIO", "fake");
        auto fake = makeAudioBackend();
        QVERIFY(dynamic_cast<FakeAudioBackend *>(fake.get()));
        qunsetenv("TAVRIN_AUDIO");
        auto real = makeAudioBackend();  // must not touch the sound server yet
        QVERIFY(!dynamic_cast<FakeAudioBackend *>(real.get()));
        QVERIFY(real->realTime());
        QCOMPARE(real->state(), StreamState::Idle);
    }

    void fakeClockKeepsTheFraction()
    {
        openTemplate(11025, 16, 1);
        m_player->Record();
        for (int i = 0; i < 1000; ++i)
            m_fake->advance(1);
        m_player->Stop();
        QCOMPARE(m_fake->capturedFrames(), qint64(11025));
        QCOMPARE(m_player->Length(), 1000);
    }

    void playWhileRecordingStopsTheRecordingFirst()
    {
        openTemplate(44100, 8, 2);
        m_player->Record();
        m_fake->advance(1000);
        m_player->Play();  // at the end: starts from the beginning
        QCOMPARE(m_player->Mode(), ModePlaying);
        QCOMPARE(m_player->Length(), 1000);
        m_fake->advance(400);
        QCOMPARE(m_player->Position(), 400);
        m_player->Record();
        QCOMPARE(m_player->Mode(), ModeRecording);
        m_fake->advance(100);
        m_player->Stop();
        QCOMPARE(m_player->Length(), 1100);
    }
};

QTEST_GUILESS_MAIN(TestTMediaPlayer)
#include "tst_tmediaplayer.moc"
