// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What the program settles before and just after the application object exists: the Qt
// platform it runs on, the arguments as given, and Qt's own texts in Japanese.
#pragma once

#include <QProcessEnvironment>
#include <QStringList>

namespace AppSetup {

// The arguments after the program's name, exactly as given. QApplication removes the options
// it knows (-style, -platform...) from argv, so this must run before it is built.
QStringList rawArguments(int argc, char **argv);

// In a Wayland session with XWayland at hand, the program runs on X11, where window position
// and always-on-top work; with no X server it runs on Wayland itself, where the compositor
// places the window and keeps it on top or not. A platform the user chose (QT_QPA_PLATFORM,
// -platform) is kept. Returns the value for Qt's -platform option, or an empty string to
// leave Qt's own choice.
QByteArray preferredPlatform(const QStringList &arguments);

// On X11 the window is drawn through the X connection rather than shared memory: for a
// window this small the image is a few kilobytes a second, and shared memory would make the
// X server answer each drawing with an event that wakes the program twice more. Must run
// before any thread exists (it sets the environment); a value the user set is kept.
void preferPlainXDrawing();

// The environment for programs started from here: without what preferPlainXDrawing added.
QProcessEnvironment childEnvironment();

// Loads Qt's own Japanese texts (dialogs, edit menus) whatever the locale. False when the
// translation files are not installed.
bool installQtTranslations();

}  // namespace AppSetup
