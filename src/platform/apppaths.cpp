// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "atomicfile.h"

#include <sys/stat.h>
#include <unistd.h>

static QString withExtension(const QString &path, const QString &ext) {
    const QFileInfo info(path);
    const QString base = info.completeSuffix().isEmpty()
                             ? path
                             : path.left(path.size() - info.suffix().size() - 1);
    return base + ext;
}

static QString folderOf(const QString &path) {
    QString dir = QFileInfo(path).absolutePath();
    if (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

AppPaths::AppPaths(QString exePath, QString stateDir)
    : m_exePath(std::move(exePath)), m_stateDir(std::move(stateDir)) {
    m_dataDir = exeDir();
    m_settingsFile = withExtension(m_exePath, QStringLiteral(".ini"));
    m_helpFile = withExtension(m_exePath, QStringLiteral(".hlp"));
}

static QString xdgHome(const char *variable, const QString &fallback) {
    const QString value = qEnvironmentVariable(variable);
    // XDG base directories must be absolute; a relative one is ignored.
    if (value.isEmpty() || !QDir::isAbsolutePath(value))
        return QDir::homePath() + fallback;
    return value;
}

AppPaths::UserDirs AppPaths::userDirsFromEnvironment() {
    const QString app = QStringLiteral("/tavrin");
    return UserDirs{xdgHome("XDG_STATE_HOME", QStringLiteral("/.local/state")) + app,
                    xdgHome("XDG_DATA_HOME", QStringLiteral("/.local/share")) + app,
                    xdgHome("XDG_CONFIG_HOME", QStringLiteral("/.config")) + app};
}

AppPaths AppPaths::forThisProcess() {
    return forExecutable(QCoreApplication::applicationFilePath(), userDirsFromEnvironment());
}

bool AppPaths::canCreateFilesIn(const QString &dir) {
    QFile probe(dir + QStringLiteral("/.tavr-probe-%1").arg(QCoreApplication::applicationPid()));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    probe.close();
    probe.remove();
    return true;
}

// Owned by this user and writable by no one else: another local user cannot plant, replace
// or read what goes there. For a file, root's own counts too (an unpacked copy's help).
static bool isPrivateTo(const QString &path, bool rootWillDo) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    const bool owner = st.st_uid == ::geteuid() || (rootWillDo && st.st_uid == 0);
    return owner && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool AppPaths::folderIsUsersOwn(const QString &dir) {
    return isPrivateTo(dir, false);
}

AppPaths AppPaths::forExecutable(const QString &exePath, const UserDirs &dirs) {
    AppPaths beside(exePath, dirs.state);
    const QString helpName = QFileInfo(beside.m_helpFile).fileName();
    const QString installedHelp =
        QDir::cleanPath(beside.exeDir() + QStringLiteral("/../share/tavrin/") + helpName);

    // A copy whose help file went to share/tavrin was installed: even root must not litter
    // /usr/bin with work files, so it never writes beside itself.
    const bool installed = !QFileInfo::exists(beside.m_helpFile) && QFileInfo::exists(installedHelp);
    // A folder others can write (/tmp, a group's share) is no place for the user's recordings
    // and settings, nor for files the program trusts.
    if (!installed && folderIsUsersOwn(beside.exeDir()) && canCreateFilesIn(beside.exeDir())) {
        makePrivatePath(dirs.state);
        return beside;
    }

    AppPaths perUser = beside;
    perUser.m_dataDir = dirs.data;
    perUser.m_settingsFile =
        dirs.config + QLatin1Char('/') + QFileInfo(beside.m_settingsFile).fileName();
    if (installed)
        perUser.m_helpFile = installedHelp;
    else if (!folderIsUsersOwn(beside.exeDir()) && !isPrivateTo(beside.m_helpFile, true))
        perUser.m_helpFile.clear();  // anyone could have put it there
    // Failures surface later, where the work file or the settings are written, with the
    // program's own messages.
    makePrivatePath(perUser.m_dataDir);
    makePrivatePath(dirs.config);
    makePrivatePath(dirs.state);
    return perUser;
}

QString AppPaths::exeDir() const {
    return folderOf(m_exePath);
}

QString AppPaths::workFile() const {
    return m_dataDir + QStringLiteral("/tavr.wav");
}
