// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "appsetup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace AppSetup {

namespace {
constexpr char kNoShm[] = "QT_XCB_NO_MITSHM";
bool g_setNoShm = false;
}  // namespace

void preferPlainXDrawing() {
    if (qEnvironmentVariableIsSet(kNoShm))
        return;
    qputenv(kNoShm, "1");
    g_setNoShm = true;
}

QProcessEnvironment childEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (g_setNoShm)
        env.remove(QString::fromLatin1(kNoShm));
    return env;
}

QStringList rawArguments(int argc, char **argv) {
    QStringList result;
    for (int i = 1; i < argc; ++i)
        result << QString::fromLocal8Bit(argv[i]);
    return result;
}

QByteArray preferredPlatform(const QStringList &arguments) {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return {};
    for (const QString &a : arguments)
        if (a == QLatin1String("-platform") || a.startsWith(QLatin1String("-platform=")))
            return {};
    const bool wayland = qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
                         !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!wayland)
        return {};
    // Qt's own choice may be X11 even in a Wayland session, which fails where no X server runs.
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QByteArrayLiteral("wayland");
    // Wayland is the fallback where the X server does not answer or the X11 plugin is missing.
    return QByteArrayLiteral("xcb;wayland");
}

bool installQtTranslations() {
    auto *translator = new QTranslator(QCoreApplication::instance());
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QStringLiteral("qtbase_ja"), dir) &&
        !translator->load(QStringLiteral("qtbase_ja"), QStringLiteral("/usr/share/qt6/translations"))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

}  // namespace AppSetup
