// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The settings file across start and close, and every way of closing the window.
#include "recorderrig.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSettings>

namespace {
void writeText(const QString &path, const QByteArray &text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

// Reads a key the way a user would see it in the file: section and key as written there.
QString iniValue(const QByteArray &file, const QString &section, const QString &key) {
    QString current;
    for (const QByteArray &raw : file.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith('[') && line.endsWith(']'))
            current = line.mid(1, line.size() - 2).trimmed();
        else if (current.compare(section, Qt::CaseInsensitive) == 0) {
            const int eq = line.indexOf('=');
            if (eq > 0 && line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
                return line.mid(eq + 1).trimmed();
        }
    }
    return QStringLiteral("<missing>");
}

bool closeWindow(RecorderRig &rig) {
    rig.form->show();
    return rig.form->close();
}
}  // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void firstRunUsesDefaultsAndCloseWritesEveryKey() {
        RecorderRig rig;
        rig.start();
        QCOMPARE(rig.form->pos(), QPoint(100, 100));
        QVERIFY(rig.action("SS13")->isChecked());
        QVERIFY(!rig.action("MMStayOnTop")->isChecked());
        QVERIFY(!rig.action("MMCompactMode")->isChecked());
        QVERIFY(!rig.action("MMTimerAutoSave")->isChecked());
        QCOMPARE(rig.button("SBTimer")->text(), QString("00:00:00"));
        QVERIFY(!rig.button("SBTimer")->isChecked());
        QCOMPARE(rig.form->saveDialog().initialDir, rig.dir.path());
        QVERIFY(!QFile::exists(rig.iniFile()));

        QVERIFY(closeWindow(rig));
        const QByteArray ini = rig.readFile(rig.iniFile());
        QCOMPARE(iniValue(ini, "Software", "Version"), QString("218"));
        QCOMPARE(iniValue(ini, "Window", "Top"), QString("100"));
        QCOMPARE(iniValue(ini, "Window", "Left"), QString("100"));
        QCOMPARE(iniValue(ini, "Setting", "RecMode"), QString("13"));
        QCOMPARE(iniValue(ini, "Setting", "StayOnTop"), QString("0"));
        QCOMPARE(iniValue(ini, "Setting", "CompactMode"), QString("0"));
        QCOMPARE(iniValue(ini, "Setting", "AutoSave"), QString("0"));
        QCOMPARE(iniValue(ini, "Setting", "Timer"), QString("00:00:00"));
        QCOMPARE(iniValue(ini, "Setting", "TimerON"), QString("0"));
        QCOMPARE(iniValue(ini, "File", "IniDir"), rig.dir.path());
        // Sections in the order of their first write.
        const int software = ini.indexOf("[Software]"), window = ini.indexOf("[Window]"),
                  setting = ini.indexOf("[Setting]"), file = ini.indexOf("[File]");
        QVERIFY(software >= 0 && software < window && window < setting && setting < file);
    }

    void oldVersionLosesItsOldKeys() {
        RecorderRig rig;
        writeText(rig.iniFile(), "[Software]\nVersion=209\n[Setting]\nStartup=1\nSaveTimer=1\nTimer=\n");
        rig.start();
        QCOMPARE(rig.button("SBTimer")->text(), QString("00:00:00"));
        const QByteArray ini = rig.readFile(rig.iniFile());
        QCOMPARE(iniValue(ini, "Setting", "Startup"), QString("<missing>"));
        QCOMPARE(iniValue(ini, "Setting", "SaveTimer"), QString("<missing>"));
        QCOMPARE(iniValue(ini, "Setting", "Timer"), QString("<missing>"));
        QVERIFY(closeWindow(rig));
        QCOMPARE(iniValue(rig.readFile(rig.iniFile()), "Software", "Version"), QString("218"));
    }

    void emptyTimerAtVersion210StaysEmptyAndNeverFires() {
        RecorderRig rig;
        writeText(rig.iniFile(), "[Software]\nVersion=210\n[Setting]\nTimer=\nTimerON=1\n");
        rig.start();
        QCOMPARE(rig.button("SBTimer")->text(), QString(""));
        QVERIFY(rig.button("SBTimer")->isChecked());
        QVERIFY(rig.action("MMTimer")->isChecked());
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(500);
        rig.advanceAndTick(1000);
        QCOMPARE(rig.label(), QString("録音中..."));
    }

    void valueEncodings_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("onTop");
        QTest::addColumn<int>("top");
        QTest::addColumn<QString>("checked");
        QTest::newRow("StayOnTop 2") << QByteArray("[Setting]\nStayOnTop=2\n") << true << 100 << "SS13";
        QTest::newRow("StayOnTop -1") << QByteArray("[Setting]\nStayOnTop=-1\n") << true << 100 << "SS13";
        QTest::newRow("StayOnTop yes") << QByteArray("[Setting]\nStayOnTop=yes\n") << false << 100 << "SS13";
        QTest::newRow("Top 0x64") << QByteArray("[Window]\nTop=0x64\n") << false << 100 << "SS13";
        QTest::newRow("Top 250") << QByteArray("[Window]\nTop=250\n") << false << 250 << "SS13";
        QTest::newRow("RecMode 4") << QByteArray("[Setting]\nRecMode=4\n") << false << 100 << "SS13";
        QTest::newRow("RecMode 9") << QByteArray("[Setting]\nRecMode=9\n") << false << 100 << "SS13";
        QTest::newRow("RecMode 99") << QByteArray("[Setting]\nRecMode=99\n") << false << 100 << "SS13";
        QTest::newRow("RecMode -1") << QByteArray("[Setting]\nRecMode=-1\n") << false << 100 << "SS13";
        QTest::newRow("RecMode 7") << QByteArray("[Setting]\nRecMode=7\n") << false << 100 << "SS7";
        QTest::newRow("names in other case") << QByteArray("[setting]\n  recmode = 0 \n") << false << 100 << "SS0";
        QTest::newRow("damaged file") << QByteArray("\x01\xff[[[\n=\n[Window\nTop==\n") << false << 100 << "SS13";
    }
    void valueEncodings() {
        QFETCH(QByteArray, file);
        QFETCH(bool, onTop);
        QFETCH(int, top);
        QFETCH(QString, checked);
        RecorderRig rig;
        writeText(rig.iniFile(), file);
        rig.start();
        QCOMPARE(rig.action("MMStayOnTop")->isChecked(), onTop);
        QCOMPARE(rig.platform.stayOnTopCalls, onTop ? QList<bool>{true} : QList<bool>{});
        QCOMPARE(rig.form->y(), top);
        QVERIFY(rig.action(qPrintable(checked))->isChecked());
        QVERIFY(closeWindow(rig));
        QCOMPARE(iniValue(rig.readFile(rig.iniFile()), "Setting", "RecMode"), checked.mid(2));
    }

    void handWrittenLinesSurviveAClose() {
        RecorderRig rig;
        const QByteArray original =
            "; my recorder settings\n"
            "[Window]\n"
            "  TOP = 120 \n"
            "left=130\n"
            "Monitor=2\n"
            "\n"
            "# other tools keep their own section\n"
            "[Other]\n"
            "Key=value with spaces\n";
        writeText(rig.iniFile(), original);
        rig.start();
        QCOMPARE(rig.form->pos(), QPoint(130, 120));
        QVERIFY(closeWindow(rig));
        const QByteArray ini = rig.readFile(rig.iniFile());
        QVERIFY(ini.contains("; my recorder settings"));
        QVERIFY(ini.contains("# other tools keep their own section"));
        QVERIFY(ini.contains("Monitor=2"));
        QVERIFY(ini.contains("[Other]\nKey=value with spaces"));
        QCOMPARE(iniValue(ini, "Window", "Top"), QString("120"));
        QCOMPARE(ini.count("[Window]") + ini.count("[window]"), 1);
        int topLines = 0;
        for (const QByteArray &line : ini.split('\n'))
            topLines += line.split('=').first().trimmed().toLower() == "top";
        QCOMPARE(topLines, 1);
    }

    void roundTripOfEverySetting() {
        QTemporaryDir shared;
        QString iniPath;
        {
            RecorderRig rig;
            rig.start();
            rig.form->move(321, 234);
            rig.trigger("SS6");
            rig.trigger("MMStayOnTop");
            rig.trigger("MMCompactMode");
            rig.trigger("MMTimerAutoSave");
            rig.platform.inputAnswers.enqueue(QString("13000"));
            rig.trigger("MMTimerSet");
            rig.trigger("MMTimer");
            QVERIFY(QDir().mkdir(rig.dir.path() + "/takes"));
            rig.key(Qt::Key_Space);
            rig.advanceAndTick(500);
            rig.key(Qt::Key_Space);
            rig.platform.saveAnswers.enqueue(rig.dir.path() + "/takes/one.wav");
            rig.key(Qt::Key_S, Qt::ControlModifier);
            QVERIFY(closeWindow(rig));
            QVERIFY(QFile::copy(rig.iniFile(), shared.path() + "/tavr.ini"));
            iniPath = rig.dir.path();
        }
        RecorderRig again;
        QVERIFY(QFile::copy(shared.path() + "/tavr.ini", again.iniFile()));
        // The folder of the last save, made in the first run's folder.
        const QString takes = QFileInfo(iniPath + "/takes").absoluteFilePath();
        again.start();
        QCOMPARE(again.form->pos(), QPoint(321, 234));
        QVERIFY(again.action("SS6")->isChecked());
        QCOMPARE(again.label(), QString("22050Hz 8ﾋﾞｯﾄ ｽﾃﾚｵ"));
        QVERIFY(again.action("MMStayOnTop")->isChecked());
        QVERIFY(again.action("MMCompactMode")->isChecked());
        QVERIFY(again.action("Sosa1")->isVisible());
        QCOMPARE(MainWindowUi::clientHeight(again.form.get()), 17);
        QVERIFY(again.action("MMTimerAutoSave")->isChecked());
        QCOMPARE(again.button("SBTimer")->text(), QString("01:30:00"));
        QVERIFY(again.button("SBTimer")->isChecked());
        QVERIFY(again.action("MMTimer")->isChecked());
        QCOMPARE(again.form->saveDialog().initialDir, takes);
    }

    void exitQuestionAfterSettingsAreWritten() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.key(Qt::Key_Space);
        QVERIFY(QDir().mkdir(rig.dir.path() + "/elsewhere"));
        rig.platform.answers.enqueue(MsgResult::Yes);
        rig.platform.saveAnswers.enqueue(rig.dir.path() + "/elsewhere/last.wav");
        rig.form->show();
        rig.trigger("MMExit");
        QVERIFY(!rig.form->isVisible());
        QCOMPARE(rig.platform.messages.last().text,
                 QString("ファイルは保存されていません。\n\rファイルを保存してから終了しますか？"));
        QVERIFY(QFile::exists(rig.dir.path() + "/elsewhere/last.wav"));
        // The settings were written before the question: IniDir is still the old folder.
        QCOMPARE(iniValue(rig.readFile(rig.iniFile()), "File", "IniDir"), rig.dir.path());
    }

    void cancelKeepsTheWindowAndARefusedCloseWritesAgain() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.platform.answers.enqueue(MsgResult::Cancel);
        QVERIFY(!closeWindow(rig));
        QVERIFY(rig.form->isVisible());
        QCOMPARE(rig.label(), QString("録音中..."));
        QCOMPARE(rig.device().Mode(), ModeRecording);
        QVERIFY(QFile::exists(rig.iniFile()));
        QVERIFY(QFile::remove(rig.iniFile()));
        rig.form->move(140, 150);
        rig.platform.answers.enqueue(MsgResult::No);
        QVERIFY(closeWindow(rig));
        QCOMPARE(iniValue(rig.readFile(rig.iniFile()), "Window", "Left"), QString("140"));
        QCOMPARE(rig.platform.beeps, 0);  // both asked while recording
    }

    void anUnwritableSettingsFileStillLetsTheUserClose() {
        RecorderRig rig;
        rig.start();
        // A folder where the settings file should be: no write can replace it, not even root's.
        QVERIFY(QDir().mkdir(rig.iniFile()));
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.key(Qt::Key_Space);
        rig.platform.answers.enqueue(MsgResult::Ok);  // the error
        rig.platform.answers.enqueue(MsgResult::No);  // the question
        QVERIFY(closeWindow(rig));
        QCOMPARE(rig.platform.errors(), QStringList{QString("%1 に書き込めません.").arg(rig.iniFile())});
        QCOMPARE(rig.platform.messages.last().caption, QString("確認"));
    }

    void aDamagedHugeSettingsFileClosesQuietlyAndKeepsTheSettings() {
        RecorderRig rig;
        QByteArray junk(1 << 20, '\0');
        for (char &c : junk)
            c = char(QRandomGenerator::global()->generate());
        writeText(rig.iniFile(), junk);
        rig.start();
        rig.trigger("MMCompactMode");
        QVERIFY(closeWindow(rig));
        QVERIFY(closeWindow(rig));  // the file it wrote is one it reads back
        QVERIFY(rig.platform.messages.isEmpty());
        const QByteArray written = rig.readFile(rig.iniFile());
        QVERIFY(written.size() <= (1 << 20));
        QCOMPARE(iniValue(written, "Setting", "CompactMode"), QString("1"));
    }

    void sessionEndIsRefusedWithTheClose() {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.platform.answers.enqueue(MsgResult::Cancel);
        QVERIFY(!rig.form->querySessionEnd());
        rig.platform.answers.enqueue(MsgResult::No);
        QVERIFY(rig.form->querySessionEnd());
        // Once agreed, the window closes without asking again.
        const int asked = rig.platform.messages.size();
        QVERIFY(closeWindow(rig));
        QCOMPARE(rig.platform.messages.size(), asked);
    }

    // The session's end may still be cancelled by another program after Tavrin agreed: the
    // window stays until the real end, and a take made after a cancel is asked about again.
    void approvedSessionEndKeepsTheWindowUntilTheEnd() {
        RecorderRig rig;
        rig.start();
        rig.form->show();
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1000);
        rig.platform.answers.enqueue(MsgResult::No);
        QVERIFY(rig.form->querySessionEnd());
        QCoreApplication::processEvents();
        QVERIFY(rig.form->isVisible());

        rig.key(Qt::Key_Space);  // stop
        rig.platform.answers.enqueue(MsgResult::No);  // the question New asks
        rig.click("SBNew");
        rig.key(Qt::Key_Space);  // a new take
        rig.advanceAndTick(1000);
        const int asked = rig.platform.messages.size();
        QVERIFY(!rig.form->close());  // answered Cancel
        QCOMPARE(rig.platform.messages.size(), asked + 1);
        QCOMPARE(rig.platform.messages.last().caption, QString("確認"));
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
