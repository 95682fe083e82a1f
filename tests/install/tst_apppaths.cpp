// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where a copy of the program keeps its files: beside itself when it may, per user otherwise.
#include "apppaths.h"
#include "unwritable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

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
