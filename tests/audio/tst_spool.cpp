// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The spool under a failing disk: every write and sync is checked, a fault belongs to the take
// (and the stream) that met it, and what reached the disk is kept.
#include "fakeaudiobackend.h"
#include "spool.h"
#include "spoolrecovery.h"
#include "tmediaplayer.h"
#include "wavfile.h"
#include "wavtestutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace wavtest;

namespace {

// What the injected disk does: the operation that fails from now on, and a stall that holds
// every write until lifted.
std::atomic<int> g_failing{-1};
std::atomic<bool> g_stalled{false};

bool injectedDisk(const SpoolIoCall &call)
{
    const SpoolIo op = call.op;
    while (g_stalled.load() && op == SpoolIo::Write)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (g_failing.load() == int(op)) {
        errno = op == SpoolIo::Sync ? EIO : ENOSPC;
        return false;
    }
    return true;
}

} // namespace

class TestSpool : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<TMediaPlayer> m_player;
    FakeAudioBackend *m_fake = nullptr;

    void open(bool realTime, int rate = 11025)
    {
        auto fake = std::make_unique<FakeAudioBackend>();
        m_fake = fake.get();
        m_fake->setRealTime(realTime);
        m_player = std::make_unique<TMediaPlayer>(std::move(fake), m_dir.filePath(QStringLiteral("spool")));
        m_player->FileName = m_dir.filePath(QStringLiteral("tavr.wav"));
        QVERIFY(writeFile(m_player->FileName, templateBytes(rate, 8, 1)));
        m_player->Open();
    }

    // What the spool file holds now, as frames of the fake ramp.
    qint64 framesOnDisk() const
    {
        return (QFileInfo(m_player->spoolPath()).size() - WavHeaderWriter::kSpoolHeaderSize);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        setSpoolIoHook(injectedDisk);
    }
    void init()
    {
        g_failing = -1;
        g_stalled = false;
    }
    void cleanup()
    {
        g_stalled = false;
        m_player.reset();
    }

    void diskFaultsStopTheTakeAndKeepWhatReachedTheDisk_data()
    {
        QTest::addColumn<bool>("realTime");
        QTest::addColumn<int>("op");
        QTest::addColumn<bool>("atStop");
        QTest::newRow("write, inline") << false << int(SpoolIo::Write) << false;
        QTest::newRow("write, disk thread") << true << int(SpoolIo::Write) << false;
        QTest::newRow("write of the last audio at Stop") << true << int(SpoolIo::Write) << true;
        QTest::newRow("header, inline") << false << int(SpoolIo::HeaderWrite) << false;
        QTest::newRow("sync, inline") << false << int(SpoolIo::Sync) << false;
        QTest::newRow("sync, disk thread") << true << int(SpoolIo::Sync) << false;
        QTest::newRow("sync at Stop") << true << int(SpoolIo::Sync) << true;
    }
    void diskFaultsStopTheTakeAndKeepWhatReachedTheDisk()
    {
        QFETCH(bool, realTime);
        QFETCH(int, op);
        QFETCH(bool, atStop);
        open(realTime);
        m_player->Record();
        m_fake->advance(500);
        QTRY_VERIFY(framesOnDisk() > 0);
        if (atStop)
            g_stalled = true;  // the next audio waits in the ring for Stop to write it
        g_failing = op;
        m_fake->advance(1500);
        if (atStop) {
            g_stalled = false;
            m_player->Stop();
        } else {
            QTRY_COMPARE(m_player->Mode(), ModeStopped);
        }
        QCOMPARE(m_player->Mode(), ModeStopped);
        const DeviceFault fault = m_player->takeFault();
        QCOMPARE(fault.code, quint32(MCIERR_FILE_WRITE));
        QVERIFY(!fault.earlierStream);
        g_failing = -1;

        // The take keeps exactly what the file holds, and it plays and saves.
        const qint64 kept = framesOnDisk();
        QVERIFY(kept >= 11025 / 2 - 11025 / 10);
        QVERIFY(kept <= 11025 * 2);
        QCOMPARE(m_player->Length(), qint32((kept * 2000 + 11025) / 22050));
        m_player->FileName = m_dir.filePath(QStringLiteral("kept.wav"));
        m_player->Save();
        QCOMPARE(m_player->ErrorCode(), quint32(0));
        const Sound s = readSound(m_player->FileName);
        QCOMPARE(s.frames, kept);

        // After a failed sync (or header) the file proves nothing any more: the next take on it
        // says so at once. A failed write leaves the file trustworthy, and recording goes on.
        m_player->Record();
        m_fake->advance(300);
        if (op != int(SpoolIo::Write)) {
            QTRY_COMPARE(m_player->Mode(), ModeStopped);
            QCOMPARE(m_player->takeFault().code, quint32(MCIERR_FILE_WRITE));
        } else {
            QCOMPARE(m_player->Mode(), ModeRecording);
            m_player->Stop();
            QCOMPARE(m_player->takeFault().code, quint32(0));
            QVERIFY(m_player->Length() > 0);
        }
    }

    // Audio lost to a disk that fell behind is told in every take, not only the first.
    void everyTakeTellsItsLostAudio()
    {
        open(true, 44100);
        for (int take = 0; take < 2; ++take) {
            m_player->Record();
            m_fake->advance(200);
            g_stalled = true;
            m_fake->advance(60000);  // more than the ring holds
            g_stalled = false;
            m_player->Stop();
            QCOMPARE(m_player->takeFault().code, quint32(MCIERR_WAVE_OVERRUN));
        }
    }

    // A fault the pause met is still told after the next Record, but does not stop that take.
    void aFaultBelongsToItsStream()
    {
        open(true);
        m_player->Record();
        m_fake->advance(300);
        QTRY_VERIFY(framesOnDisk() > 0);
        g_stalled = true;
        g_failing = int(SpoolIo::Write);
        m_fake->advance(300);
        g_stalled = false;
        m_player->Stop();  // as a pause does
        g_failing = -1;
        m_player->Record();
        QCOMPARE(m_player->Mode(), ModeRecording);
        const DeviceFault fault = m_player->takeFault();
        QCOMPARE(fault.code, quint32(MCIERR_FILE_WRITE));
        QVERIFY(fault.earlierStream);
        m_fake->advance(300);
        QCOMPARE(m_player->Mode(), ModeRecording);
        m_player->Stop();
        QCOMPARE(m_player->takeFault().code, quint32(0));
    }

    // The header stays a valid RIFF header up to the switch to RF64: its size never wraps.
    void spoolHeaderNeverWraps()
    {
        const AudioFormat f{44100, 16, 2};
        for (qint64 data : {0xFFFFFFFFLL - 80, 0xFFFFFFFFLL - 72, 0xFFFFFFFFLL - 60, 0xFFFFFFFFLL - 38,
                            0xFFFFFFFFLL}) {
            const QByteArray h = WavHeaderWriter(f).spoolHeader(data);
            QCOMPARE(h.size(), int(WavHeaderWriter::kSpoolHeaderSize));
            const quint32 riff = quint32(uchar(h[4])) | quint32(uchar(h[5])) << 8 |
                                 quint32(uchar(h[6])) << 16 | quint32(uchar(h[7])) << 24;
            if (h.startsWith("RIFF"))
                QVERIFY2(qint64(riff) == 72 + data + (data & 1), qPrintable(QString::number(data)));
            else
                QVERIFY(h.startsWith("RF64"));
        }
    }

    // With a runtime folder on a tmpfs, the audio goes to a ring file there and reaches the
    // spool only at each sync; a killed program's ring gives the next start every frame it
    // took, and is then gone.
    void aKilledTakeIsWholeFromItsRing()
    {
        QTemporaryDir runtime(QStringLiteral("/dev/shm/tavrin-test-XXXXXX"));
        if (!runtime.isValid())
            QSKIP("no /dev/shm");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        const QString dir = m_dir.filePath(QStringLiteral("ringcheck"));
        const qint64 frames = 441 * 38;  // 1.52 s
        const pid_t child = ::fork();
        if (child == 0) {
            // Four times as fast as real time: the first sync comes after about 0.8 s of audio.
            Spool spool(dir);
            if (!spool.create(AudioFormat{11025, 16, 2}))
                ::_exit(1);
            spool.beginCapture(true);
            std::vector<qint16> piece(2 * 441);
            for (qint64 f = 0; f < frames; f += 441) {
                for (int i = 0; i < 441; ++i)
                    piece[size_t(2 * i)] = piece[size_t(2 * i + 1)] = qint16(f + i);
                spool.write(piece.data(), 441);
                spool.kick();
                ::usleep(10000);
            }
            ::_exit(0);
        }
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QCOMPARE(status, 0);
        const QStringList spools = QDir(dir).entryList({QStringLiteral("spool-*")});
        QCOMPARE(spools.size(), 1);
        WavInfo before;
        const int fd = ::open(QFile::encodeName(dir + "/" + spools.first()).constData(), O_RDONLY | O_CLOEXEC);
        QCOMPARE(parseWavHeader(fd, QFileInfo(dir + "/" + spools.first()).size(), &before), 0u);
        ::close(fd);
        QVERIFY2(before.dataBytes < frames * 4, "the ring held nothing the spool lacked");

        const QList<RecoveredTake> taken = recoverOrphanedSpools(dir, m_dir.filePath(QStringLiteral("ringout")));
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(taken.size(), 1);
        QCOMPARE(taken.first().frames, frames);
        const Sound sound = readSound(taken.first().savedAs);
        QCOMPARE(sound.frames, frames);
        for (qint64 f = 0; f < frames; ++f)
            QCOMPARE(sound.samples[size_t(2 * f + 1)], int(qint16(f)));
        QCOMPARE(QDir(runtime.path() + "/tavrin").entryList(QDir::Files).size(), 0);
    }

    // A spool carries its final name only once it is locked, so another copy can never take a
    // live one for an orphan; a discarded one is gone before its lock is.
    void spoolIsLockedUnderItsNameAndGoneWhenDiscarded()
    {
        const QString dir = m_dir.filePath(QStringLiteral("lockcheck"));
        Spool spool(dir);
        QVERIFY(spool.create(AudioFormat{11025, 8, 1}));
        QVERIFY(QFileInfo(spool.path()).fileName().startsWith(QStringLiteral("spool-")));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
        const int other = ::open(QFile::encodeName(spool.path()).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(other >= 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), -1);
        spool.discard();
        QVERIFY(!QFileInfo::exists(spool.path()) || spool.path().isEmpty());
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        ::close(other);
    }
};

QTEST_GUILESS_MAIN(TestSpool)
#include "tst_spool.moc"
