// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Tavrin: a small sound recorder.
#include "about.h"
#include "appsetup.h"
#include "apppaths.h"
#include "audiobackend.h"
#include "qtplatform.h"
#include "signalwatcher.h"
#include "unit1.h"

#include <QApplication>
#include <QSessionManager>

#include <unistd.h>
#include <vector>

int main(int argc, char *argv[]) {
    // Still alone in the process: nothing can be reading the environment meanwhile.
    prepareAudioEnvironment();
    AppSetup::preferPlainXDrawing();
    const QStringList arguments = AppSetup::rawArguments(argc, argv);
    // Given to Qt as an option rather than in the environment, so that programs started from
    // here (the mixer) choose their own platform.
    QByteArray platformName = AppSetup::preferredPlatform(arguments);
    std::vector<char *> args(argv, argv + argc);
    char platformOption[] = "-platform";
    if (!platformName.isEmpty())
        args.insert(args.begin() + 1, {platformOption, platformName.data()});
    int qtArgc = int(args.size());
    args.push_back(nullptr);
    QApplication app(qtArgc, args.data());
    // No display name: Qt would append it to every window's caption.
    QApplication::setApplicationName(QStringLiteral("Tavrin"));
    QApplication::setDesktopFileName(QStringLiteral("tavrin"));
    AppSetup::installQtTranslations();

    std::unique_ptr<AudioBackend> backend = makeAudioBackend();
    AudioBackend *devices = backend.get();  // owned by the window's device from here on
    QtPlatform platform([devices] { return devices->outputDeviceCount(); });

    // Told to end (logout, kill, Ctrl+C in a terminal): no dialogs, and the take is kept.
    // Watched before the window exists: start-up already writes files and may start recording.
    SignalWatcher watcher;
    TForm1 *window = nullptr;
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, [&window](int sig) {
        if (window)
            window->EndAtOnce();
        ::_exit(128 + sig);
    });

    TForm1 form(platform, std::move(backend), AppPaths::forThisProcess(), arguments);
    window = &form;
    TAboutBox aboutBox(&form);
    form.setAboutBox(&aboutBox);

    // A refused close refuses the end of the desktop session too. An approved one closes
    // nothing yet: the window closes when the session really ends (Qt closes the windows
    // then), and a log-out cancelled later by another program leaves it running.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form](QSessionManager &manager) {
        if (manager.allowsInteraction()) {
            if (!form.querySessionEnd())
                manager.cancel();
            manager.release();
        }
    });

    form.show();
    QMetaObject::invokeMethod(&form, &TForm1::RecoverEarlierTakes, Qt::QueuedConnection);
    return app.exec();
}
