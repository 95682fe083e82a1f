// Where the program finds and keeps its files: the executable's path names the settings
// file, the help file and the work file; recordings are spooled in a per-user folder.
#pragma once

#include <QString>

class AppPaths {
public:
    // exePath: the executable's full path. stateDir: the per-user folder for spools.
    AppPaths(QString exePath, QString stateDir);

    // The paths of a normal start: the running executable, and $XDG_STATE_HOME/tavrin.
    static AppPaths forThisProcess();

    const QString &exePath() const { return m_exePath; }
    // The executable's folder without a trailing separator.
    QString exeDir() const;
    QString workFile() const;      // <exeDir>/tavr.wav
    QString settingsFile() const;  // the executable's path with ".ini"
    QString helpFile() const;      // the executable's path with ".hlp"
    const QString &stateDir() const { return m_stateDir; }

private:
    QString m_exePath;
    QString m_stateDir;
};
