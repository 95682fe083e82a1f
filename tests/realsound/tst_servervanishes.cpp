// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The sound server goes away in the middle of a recording.
#include "../audio/wavtestutil.h"
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

    bool server(const QString &cmd)
    {
        return QProcess::execute(m_script, {cmd, m_dir}) == 0;
    }

private slots:
    void initTestCase()
    {
        m_script = qEnvironmentVariable("TAVR_PULSE_SCRIPT");
        m_dir = qEnvironmentVariable("TAVR_PULSE_DIR");
        QVERIFY(!m_script.isEmpty() && !m_dir.isEmpty());
        QVERIFY(server(QStringLiteral("start")));
        qputenv("PULSE_SERVER", ("unix:" + m_dir + "/native").toUtf8());
        qputenv("XDG_RUNTIME_DIR", m_dir.toUtf8());
    }
    void cleanupTestCase() { server(QStringLiteral("stop")); }

    void recordingSurvivesTheServer()
    {
        QTemporaryDir dir;
        TMediaPlayer player(makeAudioBackend(), dir.filePath(QStringLiteral("spool")));
        player.FileName = dir.filePath(QStringLiteral("tavr.wav"));
        QVERIFY(writeFile(player.FileName, templateBytes(44100, 16, 2)));
        player.Open();
        player.Record();
        QCOMPARE(player.Mode(), ModeRecording);
        QVERIFY(waitUntil([&] { return player.Position() >= 1000; }, 10000));

        QVERIFY(server(QStringLiteral("stop")));
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
    }
};

QTEST_GUILESS_MAIN(TestServerVanishes)
#include "tst_servervanishes.moc"
