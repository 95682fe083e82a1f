// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "inifile.h"
#include "strconv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray readAll(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TstIniFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void roundTripsEveryType();
    void newFileHasSectionsInOrderOfFirstWrite();
    void namesMatchWithoutCaseAndBlanksAreTrimmed();
    void writesKeepWhatTheProgramDoesNotKnow();
    void newKeyGoesToTheEndOfItsSection();
    void emptyValueIsNotMissing();
    void textReadsStopAt2047Bytes();
    void cp932FileStaysCp932();
    void crlfFileKeepsItsLineEnds();
    void integerAndBooleanEncodings_data();
    void integerAndBooleanEncodings();
    void deleteKeyRemovesOnlyItsLine();
    void lineBreakInValueCannotInjectKeys();
    void readsParseOnceWritesKeepOtherWriters();
    void rewriteKeepsPermissionsAndFollowsNoLink();
    void unwritablePathThrowsWithPath();
    void fullDiskLeavesOldFileIntact();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void TstIniFile::init() {
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("tavr.ini"));
    QFile::remove(m_path);
}

void TstIniFile::roundTripsEveryType() {
    TIniFile ini(m_path);
    QCOMPARE(ini.ReadString("Setting", "Timer", "00:00:00"), QStringLiteral("00:00:00"));
    QCOMPARE(ini.ReadInteger("Window", "Top", 100), 100);
    QCOMPARE(ini.ReadBool("Setting", "StayOnTop", true), true);
    QVERIFY(!QFile::exists(m_path));  // reads never create the file

    ini.WriteString("File", "IniDir", QStringLiteral("/home/利用者/録音"));
    ini.WriteInteger("Window", "Top", -32);
    ini.WriteInteger("Window", "Left", 2147483647);
    ini.WriteBool("Setting", "CompactMode", true);
    ini.WriteBool("Setting", "AutoSave", false);

    TIniFile again(m_path);
    QCOMPARE(again.ReadString("File", "IniDir", "x"), QStringLiteral("/home/利用者/録音"));
    QCOMPARE(again.ReadInteger("Window", "Top", 100), -32);
    QCOMPARE(again.ReadInteger("Window", "Left", 100), 2147483647);
    QCOMPARE(again.ReadBool("Setting", "CompactMode", false), true);
    QCOMPARE(again.ReadBool("Setting", "AutoSave", true), false);
    QVERIFY(isValidUtf8(readAll(m_path)));
}

void TstIniFile::newFileHasSectionsInOrderOfFirstWrite() {
    TIniFile ini(m_path);
    ini.WriteInteger("Software", "Version", 218);
    ini.WriteInteger("Window", "Top", 100);
    ini.WriteInteger("Window", "Left", 100);
    ini.WriteInteger("Setting", "RecMode", 13);
    ini.WriteBool("Setting", "StayOnTop", false);
    ini.WriteString("File", "IniDir", "/opt/tavr");
    ini.WriteString("Setting", "Timer", "00:00:00");
    ini.WriteBool("Setting", "TimerON", false);
    QCOMPARE(readAll(m_path),
             QByteArray("[Software]\nVersion=218\n\n"
                        "[Window]\nTop=100\nLeft=100\n\n"
                        "[Setting]\nRecMode=13\nStayOnTop=0\nTimer=00:00:00\nTimerON=0\n\n"
                        "[File]\nIniDir=/opt/tavr\n"));
}

void TstIniFile::namesMatchWithoutCaseAndBlanksAreTrimmed() {
    writeAll(m_path, "  [ setting ]  \n  recmode   =   5  \nTIMER=\t01:00:00\t\n");
    TIniFile ini(m_path);
    QCOMPARE(ini.ReadInteger("Setting", "RecMode", 13), 5);
    QCOMPARE(ini.ReadString("SETTING", "Timer", "-"), QStringLiteral("01:00:00"));
    ini.WriteInteger("Setting", "RECMODE", 7);
    // One key, not two, and the file's own spelling of the name stays.
    QCOMPARE(readAll(m_path), QByteArray("  [ setting ]  \nrecmode=7\nTIMER=\t01:00:00\t\n"));
}

void TstIniFile::writesKeepWhatTheProgramDoesNotKnow() {
    const QByteArray before = "; Tavrin settings\n"
                              "# edited by hand\n"
                              "\n"
                              "[Window]\n"
                              "Top=5\n"
                              "Mystery = keep me  \n"
                              "a line without equals\n"
                              "\n"
                              "[Plugins]\n"
                              "Foo=bar\n";
    writeAll(m_path, before);
    TIniFile ini(m_path);
    ini.WriteInteger("Window", "Top", 300);
    ini.WriteInteger("Software", "Version", 218);
    QCOMPARE(readAll(m_path), QByteArray("; Tavrin settings\n"
                                         "# edited by hand\n"
                                         "\n"
                                         "[Window]\n"
                                         "Top=300\n"
                                         "Mystery = keep me  \n"
                                         "a line without equals\n"
                                         "\n"
                                         "[Plugins]\n"
                                         "Foo=bar\n"
                                         "\n"
                                         "[Software]\n"
                                         "Version=218\n"));
    // A comment line is never a key, even with "=" in it; "#" starts no comment, and a pair
    // of enclosing double quotes is not part of the value.
    writeAll(m_path, "[Window]\n;Top=1\n#Left=2\n[File]\nIniDir=\"/a b/\"\nA=\"\nB=\"x\n");
    TIniFile fresh(m_path);
    QCOMPARE(fresh.ReadInteger("Window", "Top", 100), 100);
    QCOMPARE(fresh.ReadInteger("Window", "#Left", 100), 2);
    QCOMPARE(fresh.ReadString("File", "IniDir", ""), QStringLiteral("/a b/"));
    QCOMPARE(fresh.ReadString("File", "A", ""), QStringLiteral("\""));
    QCOMPARE(fresh.ReadString("File", "B", ""), QStringLiteral("\"x"));
}

void TstIniFile::newKeyGoesToTheEndOfItsSection() {
    writeAll(m_path, "[Setting]\nRecMode=13\n; about files\n\n[File]\nIniDir=/x\n");
    TIniFile ini(m_path);
    ini.WriteString("Setting", "Timer", "00:01:00");
    ini.WriteString("Empty", "K", "v");
    QCOMPARE(readAll(m_path),
             QByteArray("[Setting]\nRecMode=13\nTimer=00:01:00\n; about files\n\n[File]\nIniDir=/x\n"
                        "\n[Empty]\nK=v\n"));
}

void TstIniFile::emptyValueIsNotMissing() {
    writeAll(m_path, "[Setting]\nTimer=\nTimerON=\n");
    TIniFile ini(m_path);
    QCOMPARE(ini.ReadString("Setting", "Timer", "00:00:00"), QString(""));
    QCOMPARE(ini.ReadString("Setting", "Missing", "00:00:00"), QStringLiteral("00:00:00"));
    QCOMPARE(ini.ReadString("Nowhere", "Timer", "d"), QStringLiteral("d"));
    QCOMPARE(ini.ReadBool("Setting", "TimerON", true), true);  // empty does not convert
    QCOMPARE(TIniFile(m_dir.filePath("none.ini")).ReadString("Setting", "Timer", "d"),
             QStringLiteral("d"));
}

void TstIniFile::textReadsStopAt2047Bytes() {
    TIniFile ini(m_path);
    ini.WriteString("File", "IniDir", QString(3000, QLatin1Char('a')));
    QCOMPARE(ini.ReadString("File", "IniDir", "").size(), 2047);
    // 3-byte characters: 682 fit (2046 bytes); the 683rd would cross the limit.
    ini.WriteString("File", "IniDir", QString(1000, QChar(0x9332)));
    const QString text = ini.ReadString("File", "IniDir", "");
    QCOMPARE(text, QString(682, QChar(0x9332)));
    // A 4-byte character (two UTF-16 units) is never cut in half.
    ini.WriteString("File", "IniDir", QString(2045, QLatin1Char('b')) + QStringLiteral("\U0001F600"));
    QCOMPARE(ini.ReadString("File", "IniDir", ""), QString(2045, QLatin1Char('b')));
}

void TstIniFile::cp932FileStaysCp932() {
    const QByteArray sjis = toSjis(QStringLiteral("; 設定\n[File]\nIniDir=C:\\録音\\ﾃｽﾄ\n"));
    QVERIFY(!isValidUtf8(sjis));
    writeAll(m_path, sjis);
    TIniFile ini(m_path);
    QCOMPARE(ini.ReadString("File", "IniDir", ""), QStringLiteral("C:\\録音\\ﾃｽﾄ"));
    ini.WriteString("Software", "Name", QStringLiteral("録音"));
    QCOMPARE(readAll(m_path), sjis + toSjis(QStringLiteral("\n[Software]\nName=録音\n")));
    // A character the code page lacks is not turned into "?": the file becomes UTF-8.
    ini.WriteString("Software", "Name", QStringLiteral("\U0001F3B5"));
    QCOMPARE(QString::fromUtf8(readAll(m_path)),
             QStringLiteral("; 設定\n[File]\nIniDir=C:\\録音\\ﾃｽﾄ\n\n[Software]\nName=\U0001F3B5\n"));
}

void TstIniFile::crlfFileKeepsItsLineEnds() {
    writeAll(m_path, "\xEF\xBB\xBF[Window]\r\nTop=1\r\n");
    TIniFile ini(m_path);
    QCOMPARE(ini.ReadInteger("Window", "Top", 100), 1);
    ini.WriteInteger("Window", "Left", 2);
    QCOMPARE(readAll(m_path), QByteArray("\xEF\xBB\xBF[Window]\r\nTop=1\r\nLeft=2\r\n"));
}

void TstIniFile::integerAndBooleanEncodings_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("integer");  // ReadInteger with default 100
    QTest::addColumn<bool>("boolean"); // ReadBool with default false
    QTest::newRow("decimal") << QByteArray("218") << 218 << true;
    QTest::newRow("0x64") << QByteArray("0x64") << 100 << true;
    QTest::newRow("0X1f") << QByteArray("0X1f") << 31 << true;
    QTest::newRow("$10") << QByteArray("$10") << 16 << true;
    QTest::newRow("0x alone") << QByteArray("0x") << 100 << false;
    QTest::newRow("two") << QByteArray("2") << 2 << true;
    QTest::newRow("minus one") << QByteArray("-1") << -1 << true;
    QTest::newRow("zero") << QByteArray("0") << 0 << false;
    QTest::newRow("yes") << QByteArray("yes") << 100 << false;
    QTest::newRow("true") << QByteArray("true") << 100 << false;
    QTest::newRow("overflow") << QByteArray("4294967296") << 100 << false;
    QTest::newRow("blank-led") << QByteArray(" 7") << 7 << true;  // trimmed anyway
}

void TstIniFile::integerAndBooleanEncodings() {
    QFETCH(QByteArray, stored);
    QFETCH(int, integer);
    QFETCH(bool, boolean);
    writeAll(m_path, "[Setting]\nK=" + stored + "\n");
    TIniFile ini(m_path);
    QCOMPARE(ini.ReadInteger("Setting", "K", 100), integer);
    QCOMPARE(ini.ReadBool("Setting", "K", false), boolean);
}

void TstIniFile::deleteKeyRemovesOnlyItsLine() {
    writeAll(m_path, "[Software]\nVersion=209\n[Setting]\nStartup=1\nSaveTimer=0\nTimer=\n; c\n");
    TIniFile ini(m_path);
    ini.DeleteKey("Setting", "startup");
    ini.DeleteKey("Setting", "SaveTimer");
    ini.DeleteKey("Setting", "Timer");
    ini.DeleteKey("Setting", "NotThere");
    QCOMPARE(readAll(m_path), QByteArray("[Software]\nVersion=209\n[Setting]\n; c\n"));
    QCOMPARE(ini.ReadString("Setting", "Timer", "00:00:00"), QStringLiteral("00:00:00"));
    // Deleting from a file that does not exist does not create it.
    TIniFile none(m_dir.filePath("none.ini"));
    none.DeleteKey("Setting", "Timer");
    QVERIFY(!QFile::exists(none.FileName()));
}

void TstIniFile::lineBreakInValueCannotInjectKeys() {
    TIniFile ini(m_path);
    ini.WriteString("File", "IniDir", QStringLiteral("/tmp/a\n[Setting]\nRecMode=4"));
    QCOMPARE(ini.ReadString("File", "IniDir", ""), QStringLiteral("/tmp/a"));
    QCOMPARE(ini.ReadInteger("Setting", "RecMode", 13), 13);
}

void TstIniFile::readsParseOnceWritesKeepOtherWriters() {
    TIniFile ini(m_path);
    ini.WriteInteger("Window", "Top", 1);
    writeAll(m_path, "[Window]\nTop=2\n");  // another copy of the program wrote meanwhile
    QCOMPARE(ini.ReadInteger("Window", "Top", 100), 1);  // what this copy last saw
    ini.WriteInteger("Window", "Left", 3);
    QCOMPARE(readAll(m_path), QByteArray("[Window]\nTop=2\nLeft=3\n"));
    QCOMPARE(ini.ReadInteger("Window", "Top", 100), 2);

    // A huge file is read only as far as its first MiB. A write keeps what that read saw and
    // never leaves a file the next read cannot take whole (damaged bytes that grow as UTF-8:
    // tst_settings).
    QByteArray huge = "[Window]\nTop=5\n[Junk]\n";
    while (huge.size() < (3 << 20))
        huge += "Filler=0123456789012345678901234567890123456789\n";
    huge += "[Setting]\nRecMode=4\n";
    writeAll(m_path, huge);
    TIniFile big(m_path);
    QCOMPARE(big.ReadInteger("Setting", "RecMode", 13), 13);
    for (int top = 6; top < 9; ++top) {
        big.WriteInteger("Window", "Top", top);
        big.WriteInteger("Setting", "Timer", top);
    }
    QVERIFY(readAll(m_path).size() <= (1 << 20));
    TIniFile back(m_path);
    QCOMPARE(back.ReadInteger("Window", "Top", 100), 8);
    QCOMPARE(back.ReadInteger("Setting", "Timer", 100), 8);
}

void TstIniFile::rewriteKeepsPermissionsAndFollowsNoLink() {
    writeAll(m_path, "[Window]\nTop=1\n");
    QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    TIniFile(m_path).WriteInteger("Window", "Top", 2);
    QCOMPARE(readAll(m_path), QByteArray("[Window]\nTop=2\n"));
    QCOMPARE(QFile::permissions(m_path) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QFile::remove(m_path);
    TIniFile(m_path).WriteInteger("Window", "Top", 3);
    QCOMPARE(QFile::permissions(m_path) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);

    // A link or a FIFO planted in the file's place: nothing is read through it, the start
    // does not hang, and a write neither follows nor replaces it.
    const QString other = m_dir.filePath(QStringLiteral("other.ini"));
    writeAll(other, "[Window]\nTop=7\n");
    QFile::remove(m_path);
    QVERIFY(QFile::link(other, m_path));
    QCOMPARE(TIniFile(m_path).ReadInteger("Window", "Top", 100), 100);
    QVERIFY_THROWS_EXCEPTION(EIniFileError, TIniFile(m_path).WriteInteger("Window", "Top", 8));
    QCOMPARE(readAll(other), QByteArray("[Window]\nTop=7\n"));
    QVERIFY(QFileInfo(m_path).isSymLink());
    QFile::remove(m_path);
    QCOMPARE(::mkfifo(QFile::encodeName(m_path).constData(), 0600), 0);
    QCOMPARE(TIniFile(m_path).ReadInteger("Window", "Top", 100), 100);
    QVERIFY_THROWS_EXCEPTION(EIniFileError, TIniFile(m_path).WriteInteger("Window", "Top", 8));
    QVERIFY(QFileInfo(m_path).exists() && !QFileInfo(m_path).isFile());
    QFile::remove(m_path);
}

void TstIniFile::unwritablePathThrowsWithPath() {
    // Tests run as root, which ignores permission bits; a parent that is a regular file, or
    // a folder of /proc, refuses even root.
    const QString notADir = m_dir.filePath(QStringLiteral("plain"));
    writeAll(notADir, "x");
    for (const QString &path : {notADir + QStringLiteral("/tavr.ini"), QStringLiteral("/proc/tavr.ini")}) {
        TIniFile ini(path);
        try {
            ini.WriteInteger("Software", "Version", 218);
            QFAIL("no error");
        } catch (const EIniFileError &e) {
            QCOMPARE(e.message(), path + QStringLiteral(" に書き込めません"));
            QCOMPARE(QString::fromUtf8(e.what()), e.message());
        }
    }
}

void TstIniFile::fullDiskLeavesOldFileIntact() {
    // A file-size limit makes the write fail the way a full disk does, also for root.
    const QString dir = m_dir.filePath(QStringLiteral("full"));
    QVERIFY(QDir().mkpath(dir));
    const QString path = dir + QStringLiteral("/tavr.ini");
    QByteArray before = "[Keep]\n";
    for (int i = 0; i < 100; ++i)
        before += "Key" + QByteArray::number(i) + "=value\n";
    writeAll(path, before);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = 256;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool thrown = false;
    try {
        TIniFile(path).WriteString("File", "IniDir", "/somewhere");
    } catch (const EIniFileError &e) {
        thrown = true;
        QCOMPARE(e.message(), path + QStringLiteral(" に書き込めません"));
    }
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(thrown);
    QCOMPARE(readAll(path), before);
    QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList{"tavr.ini"});
}

QTEST_APPLESS_MAIN(TstIniFile)
#include "tst_inifile.moc"
