// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The program itself killed, or told to end, in the middle of a take (fake audio on the wall
// clock, so no sound server is needed).
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "wavtestutil.h"

#include <csignal>
#include <sys/stat.h>
#include <utime.h>

namespace {
struct Install {
    QTemporaryDir dir;
    // The runtime folder of a desktop session is a tmpfs: the take's ring lives there.
    QTemporaryDir runtime{QStringLiteral("/dev/shm/tavrin-e2e-XXXXXX")};
    QString exe() const { return dir.path() + "/tavr"; }
    QString spoolDir() const { return dir.path() + "/state/tavrin"; }
    Install() { QFile::copy(qEnvironmentVariable("TAVR_EXE"), exe()); }

    void start(QProcess &p, const QStringList &args) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TAVRIN_AUDIO", "fake");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_STATE_HOME", dir.path() + "/state");
        if (runtime.isValid())
            env.insert("XDG_RUNTIME_DIR", runtime.path());
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(exe(), args);
    }
    QStringList spools() const { return QDir(spoolDir()).entryList({"spool-*.wav"}, QDir::Files); }
    qint64 spoolBytes() const {
        const QStringList s = spools();
        return s.isEmpty() ? 0 : QFileInfo(spoolDir() + "/" + s.first()).size();
    }
    QStringList stamped() const {
        return QDir(dir.path()).entryList({"*.wav"}).filter(QRegularExpression("^\\d{10}(-\\d+)?\\.wav$"));
    }
};

qint64 framesIn(const QString &path) {
    const wavtest::Sound sound = wavtest::readSound(path);
    return sound.ok ? sound.frames : -1;
}

constexpr qint64 kBytesPerSecond = 44100 * 4;
}  // namespace

class TestCrashSafety : public QObject {
    Q_OBJECT
private slots:
    void aKilledRecordingIsRecoveredAtTheNextStart() {
        Install app;
        QProcess first;
        app.start(first, {"-rec"});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(app.spoolBytes() > 80 + 2 * kBytesPerSecond, 10000);
        ::kill(first.processId(), SIGKILL);
        QVERIFY(first.waitForFinished());
        const qint64 onDisk = app.spoolBytes();

        QProcess second;
        app.start(second, {});
        QVERIFY(second.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(app.stamped().size(), 1, 10000);
        // The recovery message is up now; the user (here a signal) ends the program.
        QTRY_VERIFY_WITH_TIMEOUT(app.spools().isEmpty(), 5000);
        ::kill(second.processId(), SIGTERM);
        QVERIFY(second.waitForFinished(5000));
        const qint64 frames = framesIn(app.dir.path() + "/" + app.stamped().first());
        // Nothing is lost that had reached the spool when the process died.
        QVERIFY2(frames * 4 >= onDisk - 80 - 4, qPrintable(QString("%1 frames, %2 bytes").arg(frames).arg(onDisk)));
    }

    // Two copies started together, with two orphaned takes of the same second (one of them a
    // sparse spool): every take is kept, under names of its own, and only its data is copied.
    void twoCopiesRecoverEveryTakeTogether() {
        Install app;
        QVERIFY(QDir().mkpath(app.spoolDir()));
        const auto spool = [&](const QString &name, char fill, qint64 hole) {
            QFile f(app.spoolDir() + "/" + name);
            if (!f.open(QIODevice::WriteOnly))
                return false;
            const qint64 data = hole + kBytesPerSecond;
            f.write(wavtest::wavHeader(44100, 16, 2, data));
            f.seek(44 + hole);
            f.write(QByteArray(kBytesPerSecond, fill));
            f.close();
            const utimbuf when{1700000000, 1700000000};
            return ::utime(QFile::encodeName(f.fileName()).constData(), &when) == 0;
        };
        for (int i = 1; i <= 3; ++i)
            QVERIFY(spool(QString("spool-%1-0.wav").arg(i), char(0x10 * i), 0));
        QVERIFY(spool("spool-4-0.wav", '\x44', 256LL << 20));

        QProcess first, second;
        app.start(first, {});
        app.start(second, {});
        QVERIFY(first.waitForStarted() && second.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(app.spools().isEmpty() && app.stamped().size() == 4, 20000);
        QTest::qWait(500);
        ::kill(first.processId(), SIGTERM);
        ::kill(second.processId(), SIGTERM);
        QVERIFY(first.waitForFinished(5000) && second.waitForFinished(5000));

        const QStringList names = app.stamped();
        const QString stamp = names.value(0).left(10);
        QCOMPARE(names, (QStringList{stamp + "-2.wav", stamp + "-3.wav", stamp + "-4.wav", stamp + ".wav"}));
        QList<qint64> frames;
        for (const QString &name : names) {
            const QString path = app.dir.path() + "/" + name;
            frames.append(framesIn(path));
            struct stat st {};
            QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 0777, mode_t(0600));
            QVERIFY2(st.st_blocks * 512 < 8 * kBytesPerSecond, qPrintable(QString::number(st.st_blocks)));
        }
        std::sort(frames.begin(), frames.end());
        QCOMPARE(frames, (QList<qint64>{44100, 44100, 44100, 44100 + (256LL << 20) / 4}));
    }

    void sigtermEndsPromptlyAndKeepsTheTake() {
        Install app;
        QProcess tavr;
        app.start(tavr, {"-rec"});
        QVERIFY(tavr.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(app.spoolBytes() > 80 + kBytesPerSecond, 10000);
        QElapsedTimer took;
        took.start();
        ::kill(tavr.processId(), SIGTERM);
        QVERIFY(tavr.waitForFinished(5000));
        QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(tavr.exitCode(), 128 + SIGTERM);
        QCOMPARE(app.spools().size(), 1);
        // The spool is a finished WAV file in its own right, and the settings were written.
        const qint64 frames = framesIn(app.spoolDir() + "/" + app.spools().first());
        QVERIFY2(frames >= 44100, qPrintable(QString::number(frames)));
        QVERIFY(QFile::exists(app.dir.path() + "/tavr.ini"));
    }

    void sigtermWithNothingUnsavedLeavesNoSpool() {
        Install app;
        QProcess tavr;
        app.start(tavr, {});
        QVERIFY(tavr.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(app.dir.path() + "/tavr.wav"), 10000);
        ::kill(tavr.processId(), SIGINT);
        QVERIFY(tavr.waitForFinished(5000));
        QCOMPARE(tavr.exitCode(), 128 + SIGINT);
        QVERIFY(app.spools().isEmpty());
        QVERIFY(app.stamped().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCrashSafety)
#include "tst_crashsafety.moc"
