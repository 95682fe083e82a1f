// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Where the program finds and keeps its files. A copy in a folder the user owns, and no one
// else may write, keeps the settings file, the work file, the help file and auto-saved
// recordings beside the executable, named after it. An installed copy (help file under
// ../share/tavrin), one in a folder the user cannot write, and one in a folder others can write
// (/tmp, a group's share) keep what they write in the per-user XDG folders instead. Recordings
// are spooled in the per-user state folder either way. Folders the program creates are 0700.
#pragma once

#include <QString>

class AppPaths {
public:
    struct UserDirs {
        QString state;   // spools: $XDG_STATE_HOME/tavrin
        QString data;    // work file and auto-saves: $XDG_DATA_HOME/tavrin
        QString config;  // settings file: $XDG_CONFIG_HOME/tavrin
    };

    // Everything beside the executable; spools in stateDir.
    AppPaths(QString exePath, QString stateDir);

    // The paths of a normal start: the running executable and the XDG folders of this user.
    static AppPaths forThisProcess();
    // Decides where the files of exePath go; creates the per-user folders it picks.
    static AppPaths forExecutable(const QString &exePath, const UserDirs &dirs);
    // The XDG folders from the environment, with their documented defaults.
    static UserDirs userDirsFromEnvironment();
    // True when a file can be created in dir: the real test, which also holds for root,
    // read-only mounts and immutable folders where permission bits say nothing.
    static bool canCreateFilesIn(const QString &dir);
    // True when dir belongs to this user and neither its group nor others may write in it.
    static bool folderIsUsersOwn(const QString &dir);

    const QString &exePath() const { return m_exePath; }
    // The executable's folder without a trailing separator.
    QString exeDir() const;
    // Where the work file and auto-saved recordings go, without a trailing separator.
    const QString &dataDir() const { return m_dataDir; }
    QString workFile() const;                                 // <dataDir>/tavr.wav
    const QString &settingsFile() const { return m_settingsFile; }
    const QString &helpFile() const { return m_helpFile; }
    const QString &stateDir() const { return m_stateDir; }
    // True when the program writes beside its executable.
    bool besideExecutable() const { return m_dataDir == exeDir(); }

private:
    AppPaths() = default;

    QString m_exePath;
    QString m_stateDir;
    QString m_dataDir;
    QString m_settingsFile;
    QString m_helpFile;
};
