// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// `cmake --install` into a fresh prefix, then the installed program started from there: what a
// user of a system-wide copy gets.
#include "unwritable.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestInstall : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_prefix;

    static QString run(const QString &program, const QStringList &args, int *exitCode) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit) {
            *exitCode = -1;
            return p.errorString();
        }
        *exitCode = p.exitCode();
        return QString::fromUtf8(p.readAll());
    }

    static QByteArray head(const QString &path, int n) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.read(n) : QByteArray();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_tmp.isValid());
        m_prefix = m_tmp.path() + "/prefix";
        int rc = 0;
        const QString out = run(TAVR_CMAKE, {"--install", TAVR_BUILD_DIR, "--prefix", m_prefix}, &rc);
        QVERIFY2(rc == 0, qPrintable(out));
    }

    void installsProgramHelpEntryMetainfoAndIcons() {
        for (const char *file : {"bin/tavr", "share/tavrin/tavr.hlp", "share/applications/tavrin.desktop",
                                 "share/metainfo/org.example.tavrin.Tavrin.metainfo.xml",
                                 "share/icons/hicolor/scalable/apps/tavrin.svg"})
            QVERIFY2(QFileInfo::exists(m_prefix + "/" + file), file);
        QVERIFY(QFileInfo(m_prefix + "/bin/tavr").isExecutable());

        for (int size : {16, 32, 48, 64, 128, 256}) {
            const QString png = m_prefix + QStringLiteral("/share/icons/hicolor/%1x%1/apps/tavrin.png").arg(size);
            const QImage icon(png);
            QVERIFY2(!icon.isNull(), qPrintable(png));
            QCOMPARE(icon.size(), QSize(size, size));
            QVERIFY2(icon.hasAlphaChannel(), qPrintable(png));
        }

        // The entry starts the installed program by name and shows the installed icon.
        const QString entry = QString::fromUtf8(head(m_prefix + "/share/applications/tavrin.desktop", 1 << 16));
        const QString main = entry.section("\n[", 0, 0);
        QVERIFY(main.startsWith("[Desktop Entry]\n"));
        const QStringList lines = main.split('\n');
        QVERIFY(lines.contains("Exec=tavr"));
        QVERIFY(lines.contains("Icon=tavrin"));
        QVERIFY(lines.contains("Categories=AudioVideo;Audio;Recorder;"));
    }

    void desktopEntryAndMetainfoValidate() {
        const QString desktopValidate = QStandardPaths::findExecutable("desktop-file-validate");
        const QString appstream = QStandardPaths::findExecutable("appstreamcli");
        if (desktopValidate.isEmpty() || appstream.isEmpty())
            QSKIP("desktop-file-utils and appstream are needed (make test-deps installs them)");
        int rc = 0;
        QString out = run(desktopValidate, {m_prefix + "/share/applications/tavrin.desktop"}, &rc);
        QVERIFY2(rc == 0 && out.trimmed().isEmpty(), qPrintable(out));
        out = run(appstream, {"validate", "--no-net",
                              m_prefix + "/share/metainfo/org.example.tavrin.Tavrin.metainfo.xml"}, &rc);
        QVERIFY2(rc == 0, qPrintable(out));
        QVERIFY2(!out.contains(QRegularExpression("^[EW]:", QRegularExpression::MultilineOption)), qPrintable(out));
    }

    void installedProgramRecordsIntoPerUserFolders() {
        const QString bin = m_prefix + "/bin";
        const QString users = m_tmp.path() + "/user";
        QVERIFY(QDir().mkpath(users + "/config/tavrin"));
        QVERIFY(QDir().mkpath(users + "/home"));
        // "-rec" with the stop timer armed at 00:00:02 and auto-save: the fake backend runs on the
        // wall clock, so after two seconds the recording stops and is saved under a time stamp.
        {
            QFile ini(users + "/config/tavrin/tavr.ini");
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[Setting]\r\nTimerON=1\r\nTimer=00:00:02\r\nAutoSave=1\r\n");
        }

        Unwritable readOnly(bin);
        QVERIFY2(readOnly.ok(), qPrintable(readOnly.why()));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TAVRIN_AUDIO", "fake");
        env.insert("HOME", users + "/home");
        env.insert("XDG_DATA_HOME", users + "/data");
        env.insert("XDG_CONFIG_HOME", users + "/config");
        env.insert("XDG_STATE_HOME", users + "/state");
        QProcess tavr;
        tavr.setProcessEnvironment(env);
        tavr.setWorkingDirectory(users + "/home");
        tavr.setProcessChannelMode(QProcess::ForwardedChannels);
        tavr.start(bin + "/tavr", {"-rec"});
        QVERIFY(tavr.waitForStarted());

        const QString dataDir = users + "/data/tavrin";
        const QRegularExpression stamped("^\\d{10}\\.wav$");
        auto autoSaved = [&] {
            const QStringList names = QDir(dataDir).entryList(QDir::Files);
            for (const QString &name : names)
                if (stamped.match(name).hasMatch())
                    return name;
            return QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(!autoSaved().isEmpty() || tavr.state() == QProcess::NotRunning, 30000);
        QCOMPARE(tavr.state(), QProcess::Running);
        tavr.terminate();
        QVERIFY(tavr.waitForFinished(10000));

        const QByteArray workHeader = head(dataDir + "/tavr.wav", 64);
        QCOMPARE(workHeader.size(), 44);
        QVERIFY(workHeader.startsWith("RIFF") && workHeader.mid(8, 4) == "WAVE");
        const QString saved = dataDir + "/" + autoSaved();
        QVERIFY(head(saved, 4) == "RIFF" && head(saved, 12).mid(8, 4) == "WAVE");
        // Two seconds of 44100 Hz 16-bit stereo, the default format.
        QVERIFY2(QFileInfo(saved).size() >= 44 + 2 * 176400, qPrintable(QString::number(QFileInfo(saved).size())));
        // The settings stayed in the config home, and nothing was written beside the program.
        QVERIFY(QFileInfo::exists(users + "/config/tavrin/tavr.ini"));
        QCOMPARE(QDir(bin).entryList(QDir::Files | QDir::Hidden), QStringList{"tavr"});
    }
};

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
