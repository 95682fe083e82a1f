#include "apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

AppPaths::AppPaths(QString exePath, QString stateDir)
    : m_exePath(std::move(exePath)), m_stateDir(std::move(stateDir)) {}

static QString withExtension(const QString &path, const QString &ext) {
    const QFileInfo info(path);
    const QString base = info.completeSuffix().isEmpty()
                             ? path
                             : path.left(path.size() - info.suffix().size() - 1);
    return base + ext;
}

AppPaths AppPaths::forThisProcess() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return AppPaths(QCoreApplication::applicationFilePath(), state + QStringLiteral("/tavrin"));
}

QString AppPaths::exeDir() const {
    QString dir = QFileInfo(m_exePath).absolutePath();
    if (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

QString AppPaths::workFile() const {
    return exeDir() + QStringLiteral("/tavr.wav");
}

QString AppPaths::settingsFile() const {
    return withExtension(m_exePath, QStringLiteral(".ini"));
}

QString AppPaths::helpFile() const {
    return withExtension(m_exePath, QStringLiteral(".hlp"));
}
