// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The sound server goes away in the middle of a recording.
#include "wavtestutil.h"
#include "audiobackend.h"
#include "realsoundutil.h"
#include "tmediaplayer.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
};

QTEST_GUILESS_MAIN(TestServerVanishes)
#include "tst_servervanishes.moc"
