// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The sound server goes away, or hangs, in the middle of a recording.
#include "wavtestutil.h"
#include "audiobackend.h"
#include "realsoundutil.h"
#include "tmediaplayer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>

using namespace wavtest;
using namespace realsound;

class TestServerVanishes : public QObject {
    Q_OBJECT

    QString m_script;
    QString m_dir;

    // Starts the private server; 77 when it is not installed here.
    int startServer()
    {
        QProcess p;
        p.start(m_script, {QStringLiteral("start"), m_dir});
        p.waitForFinished(60000);
        if (p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            qputenv("PULSE_SERVER", p.readAllStandardOutput().trimmed());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    bool stopServer() { return QProcess::execute(m_script, {QStringLiteral("stop"), m_dir}) == 0; }
    // The process behind the socket: PulseAudio itself, or PipeWire's PulseAudio service.
    qint64 serverPid() const
    {
        for (const char *name : {"pulse/pid", "pipewire-pulse.pid"}) {
            QFile f(m_dir + QLatin1Char('/') + QLatin1String(name));
            if (f.open(QIODevice::ReadOnly))
                return f.readAll().trimmed().toLongLong();
        }
        return 0;
    }

    static void recordOneSecond(TMediaPlayer &player)
    {
        player.Record();
        QCOMPARE(player.Mode(), ModeRecording);
        const qint32 from = player.Length();
        QVERIFY(waitUntil([&] { return player.Position() >= from + 1000; }, 10000));
    }

private slots:
    void initTestCase()
    {
        m_script = qEnvironmentVariable("TAVR_SERVER_SCRIPT");
        m_dir = qEnvironmentVariable("TAVR_SERVER_DIR");
        QVERIFY(!m_script.isEmpty() && !m_dir.isEmpty());
        qputenv("XDG_RUNTIME_DIR", m_dir.toUtf8());
        const int rc = startServer();
        if (rc == 77)
            QSKIP("no test server of this kind is installed here");
        QCOMPARE(rc, 0);
    }
    void cleanupTestCase() { stopServer(); }

    // The server goes away in the middle of a take and comes back: what was recorded stays,
    // and the next Record and Play work again without a new device.
    void recordingSurvivesTheServer()
    {
        QTemporaryDir dir;
        TMediaPlayer player(makeAudioBackend(), dir.filePath(QStringLiteral("spool")));
        player.FileName = dir.filePath(QStringLiteral("tavr.wav"));
        QVERIFY(writeFile(player.FileName, templateBytes(44100, 16, 2)));
        player.Open();
        recordOneSecond(player);

        QVERIFY(stopServer());
        QVERIFY2(waitUntil([&] { return player.Mode() != ModeRecording; }, 15000),
                 "the device must notice that the server is gone");
        QCOMPARE(player.Mode(), ModeStopped);
        const DeviceFault fault = player.takeFault();
        QVERIFY(fault.code != 0);
        QVERIFY(!fault.text.isEmpty());
        QCOMPARE(player.takeFault().code, quint32(0));

        const qint32 length = player.Length();
        QVERIFY2(length >= 900, qPrintable(QString::number(length)));
        QCOMPARE(player.Position(), length);
        player.FileName = dir.filePath(QStringLiteral("kept.wav"));
        player.Save();
        QCOMPARE(player.ErrorCode(), quint32(0));
        const Sound s = readSound(player.FileName);
        QVERIFY(s.ok);
        QCOMPARE(qint32((s.frames * 2000 + 44100) / 88200), length);

        // Playing without a server fails quietly; the recording stays.
        player.Rewind();
        player.Play();
        QVERIFY(waitUntil([&] { return player.Mode() != ModePlaying; }, 15000));
        QCOMPARE(player.Length(), length);
        player.takeFault();

        // The server is back: the same device records on and plays it all.
        QCOMPARE(startServer(), 0);
        recordOneSecond(player);
        player.Stop();
        QCOMPARE(player.takeFault().code, quint32(0));
        const qint32 longer = player.Length();
        QVERIFY2(longer >= length + 900, qPrintable(QString::number(longer)));
        player.Rewind();
        player.Play();
        QCOMPARE(player.Mode(), ModePlaying);
        QVERIFY(waitUntil([&] { return player.Position() >= 300; }, 10000));
        player.Stop();
        QCOMPARE(player.takeFault().code, quint32(0));
    }

    // A server that hangs (stopped with SIGSTOP) is a fault that each call reports within
    // seconds. It is no reason to fall back to PortAudio, whose ALSA device would block on the
    // same server for libpulse's 30 s per open.
    void hungServerIsAFaultNotAFreeze()
    {
        QTemporaryDir dir;
        const QString templ = dir.filePath(QStringLiteral("tavr.wav"));
        QVERIFY(writeFile(templ, templateBytes(44100, 16, 2)));
        TMediaPlayer player(makeAudioBackend(), dir.filePath(QStringLiteral("spool")));
        player.FileName = templ;
        player.Open();
        recordOneSecond(player);

        const qint64 pid = serverPid();
        QVERIFY(pid > 0);
        QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
        auto resume = qScopeGuard([pid] { ::kill(pid_t(pid), SIGCONT); });
        QThread::msleep(300);  // the press comes well after the last audio the server sent

        // Stop waits for a tail that never comes: the take lacks it, and says so.
        QElapsedTimer t;
        t.start();
        player.Stop();
        const qint64 stopMs = t.elapsed();
        QCOMPARE(player.takeFault().code, quint32(MCIERR_CANNOT_LOAD_DRIVER));
        const qint32 length = player.Length();
        QVERIFY2(length >= 500, qPrintable(QString::number(length)));  // what came before the hang stays
        player.FileName = dir.filePath(QStringLiteral("kept.wav"));
        player.Save();
        QCOMPARE(player.ErrorCode(), quint32(0));
        QCOMPARE(qint32((readSound(player.FileName).frames * 2000 + 44100) / 88200), length);

        t.restart();
        player.Record();
        const qint64 recordMs = t.elapsed();
        QCOMPARE(player.ErrorCode(), quint32(MCIERR_CANNOT_LOAD_DRIVER));
        QCOMPARE(player.Mode(), ModeStopped);
        QCOMPARE(player.takeFault().code, quint32(MCIERR_CANNOT_LOAD_DRIVER));

        // A device made while the server hangs, as at the program's start.
        TMediaPlayer fresh(makeAudioBackend(), dir.filePath(QStringLiteral("spool2")));
        t.restart();
        QCOMPARE(fresh.outputDeviceCount(), 0);
        const qint64 probeMs = t.elapsed();
        fresh.FileName = templ;
        fresh.Open();
        t.restart();
        fresh.Record();
        const qint64 freshRecordMs = t.elapsed();
        QCOMPARE(fresh.ErrorCode(), quint32(MCIERR_CANNOT_LOAD_DRIVER));
        QCOMPARE(fresh.takeFault().code, quint32(MCIERR_CANNOT_LOAD_DRIVER));
        qInfo("server hung: Stop %lld ms, Record %lld ms; new device: device count %lld ms, Record %lld ms",
              stopMs, recordMs, probeMs, freshRecordMs);
        QVERIFY2(std::max({stopMs, recordMs, probeMs, freshRecordMs}) < 10000,
                 "each call must come back within seconds, not after libpulse's 30 s");

        // The server resumes: the same device records again.
        resume.dismiss();
        QCOMPARE(::kill(pid_t(pid), SIGCONT), 0);
        recordOneSecond(player);
        player.Stop();
        QCOMPARE(player.takeFault().code, quint32(0));
        QVERIFY(player.Length() >= length + 900);
    }
};

QTEST_GUILESS_MAIN(TestServerVanishes)
#include "tst_servervanishes.moc"
