// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where a copy of the program keeps its files: beside itself when it may, per user otherwise.
#include "apppaths.h"
#include "unwritable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestAppPaths : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;

    static void touch(const QString &path) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    AppPaths::UserDirs userDirs(const QString &root) const {
        return {root + "/state/tavrin", root + "/data/tavrin", root + "/config/tavrin"};
    }

private slots:
    void portableCopyKeepsEverythingBesideTheExecutable() {
        const QString dir = m_tmp.path() + "/portable";
        touch(dir + "/tavr");
        touch(dir + "/tavr.hlp");
        const QString users = m_tmp.path() + "/users-portable";
        const AppPaths paths = AppPaths::forExecutable(dir + "/tavr", userDirs(users));

        QVERIFY(paths.besideExecutable());
        QCOMPARE(paths.dataDir(), dir);
        QCOMPARE(paths.workFile(), dir + "/tavr.wav");
        QCOMPARE(paths.settingsFile(), dir + "/tavr.ini");
        QCOMPARE(paths.helpFile(), dir + "/tavr.hlp");
        QCOMPARE(paths.stateDir(), users + "/state/tavrin");
        // No per-user folders appear for a copy that does not use them, and no probe is left.
        QVERIFY(!QFileInfo::exists(users + "/data"));
        QVERIFY(!QFileInfo::exists(users + "/config"));
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void renamedExecutableNamesItsSettingsAndHelp() {
        const QString dir = m_tmp.path() + "/renamed";
        touch(dir + "/rec2.bin");
        const AppPaths paths = AppPaths::forExecutable(dir + "/rec2.bin", userDirs(m_tmp.path()));
        QCOMPARE(paths.settingsFile(), dir + "/rec2.ini");
        QCOMPARE(paths.helpFile(), dir + "/rec2.hlp");
        QCOMPARE(paths.workFile(), dir + "/tavr.wav");
    }

    void installedCopyWritesPerUserEvenWhereItCouldWrite() {
        // Root can write to /usr/bin; an installed copy must still not put files there.
        const QString prefix = m_tmp.path() + "/usr";
        touch(prefix + "/bin/tavr");
        touch(prefix + "/share/tavrin/tavr.hlp");
        const QString users = m_tmp.path() + "/users-installed";
        const AppPaths paths = AppPaths::forExecutable(prefix + "/bin/tavr", userDirs(users));

        QVERIFY(!paths.besideExecutable());
        QCOMPARE(paths.workFile(), users + "/data/tavrin/tavr.wav");
        QCOMPARE(paths.dataDir(), users + "/data/tavrin");
        QCOMPARE(paths.settingsFile(), users + "/config/tavrin/tavr.ini");
        QCOMPARE(paths.helpFile(), prefix + "/share/tavrin/tavr.hlp");
        QVERIFY(QFileInfo(users + "/data/tavrin").isDir());
        QVERIFY(QFileInfo(users + "/config/tavrin").isDir());
        QCOMPARE(QDir(prefix + "/bin").entryList(QDir::Files | QDir::Hidden), QStringList{"tavr"});
    }

    void copyInAnUnwritableFolderWritesPerUserAndReadsHelpBesideItself() {
        const QString dir = m_tmp.path() + "/readonly";
        touch(dir + "/tavr");
        touch(dir + "/tavr.hlp");
        Unwritable guard(dir);
        if (!guard.ok())
            QSKIP(qPrintable(guard.why()));
        QVERIFY(!AppPaths::canCreateFilesIn(dir));

        const QString users = m_tmp.path() + "/users-readonly";
        const AppPaths paths = AppPaths::forExecutable(dir + "/tavr", userDirs(users));
        QVERIFY(!paths.besideExecutable());
        QCOMPARE(paths.workFile(), users + "/data/tavrin/tavr.wav");
        QCOMPARE(paths.settingsFile(), users + "/config/tavrin/tavr.ini");
        QCOMPARE(paths.helpFile(), dir + "/tavr.hlp");
    }

    // A copy in a folder others can write (/tmp, a group's share, another user's folder) keeps
    // nothing there and trusts no help file it did not bring; what it creates is private.
    void copyInASharedFolderWritesPerUser_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("otherOwner");
        QTest::newRow("1777") << 01777 << false;
        QTest::newRow("group-writable") << 0775 << false;
        QTest::newRow("another user's") << 0755 << true;
    }
    void copyInASharedFolderWritesPerUser() {
        QFETCH(int, mode);
        QFETCH(bool, otherOwner);
        const QString dir = m_tmp.path() + "/shared-" + QTest::currentDataTag();
        touch(dir + "/tavr");
        touch(dir + "/tavr.hlp");
        QVERIFY(::chmod(QFile::encodeName(dir).constData(), mode_t(mode)) == 0);
        if (otherOwner && ::chown(QFile::encodeName(dir).constData(), 65534, 65534) != 0)
            QSKIP("cannot give the folder to another user");
        // A help file someone else planted there.
        if (::geteuid() == 0)
            QVERIFY(::chown(QFile::encodeName(dir + "/tavr.hlp").constData(), 65534, 65534) == 0);
        else
            QVERIFY(::chmod(QFile::encodeName(dir + "/tavr.hlp").constData(), 0666) == 0);

        const QString users = m_tmp.path() + "/users-" + QTest::currentDataTag();
        const AppPaths paths = AppPaths::forExecutable(dir + "/tavr", userDirs(users));
        QVERIFY(!paths.besideExecutable());
        QCOMPARE(paths.workFile(), users + "/data/tavrin/tavr.wav");
        QCOMPARE(paths.settingsFile(), users + "/config/tavrin/tavr.ini");
        QVERIFY(paths.helpFile().isEmpty());
        for (const QString &made : {users, users + "/data/tavrin", users + "/config/tavrin", users + "/state/tavrin"})
            QCOMPARE(QFileInfo(made).permissions() & 0x0F77, QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void folderOnAReadOnlyFileSystemIsNotWritable() {
        // /proc refuses new files to everyone, root included.
        QVERIFY(!AppPaths::canCreateFilesIn("/proc"));
        QVERIFY(!AppPaths::canCreateFilesIn(m_tmp.path() + "/no-such-folder"));
        QVERIFY(AppPaths::canCreateFilesIn(m_tmp.path()));
    }

    void userDirsFollowXdgAndIgnoreRelativeValues() {
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_tmp.path() + "/home"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_tmp.path() + "/xdata"));
        qputenv("XDG_CONFIG_HOME", "relative/config");
        qunsetenv("XDG_STATE_HOME");
        const AppPaths::UserDirs dirs = AppPaths::userDirsFromEnvironment();
        qputenv("HOME", home);
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_CONFIG_HOME");

        QCOMPARE(dirs.data, m_tmp.path() + "/xdata/tavrin");
        QCOMPARE(dirs.config, m_tmp.path() + "/home/.config/tavrin");
        QCOMPARE(dirs.state, m_tmp.path() + "/home/.local/state/tavrin");
    }
};

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"
