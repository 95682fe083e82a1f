// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The platform services the main window calls. The real implementation talks to Qt and
// the desktop (qtplatform.h); tests answer every question from a script.
#pragma once

#include <QDateTime>
#include <QPoint>
#include <QString>

#include <functional>

class QWidget;

enum class MsgButtons { Ok, YesNoCancel };
enum class MsgIcon { None, Stop, Question, Warning, Information };
// Numbered as the classic message-box results, so a script reads naturally.
enum class MsgResult { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

// What the recorder keeps of its save dialog between runs of it.
struct SaveDialogState {
    QString defaultExt = QStringLiteral("wav");
    QString filter = QStringLiteral(
        "WAVファイル (*.wav)|*.wav|FLACファイル (*.flac)|*.flac|Ogg Vorbisファイル (*.ogg)|*.ogg|"
        "MP3ファイル (*.mp3)|*.mp3|Opusファイル (*.opus)|*.opus");
    int filterIndex = 1;  // the entry chosen, from 1; the default extension follows it
    QString title = QStringLiteral("ファイルの保存");
    QString initialDir;
    QString fileName;  // the full path chosen, after a successful run
};

class Platform {
public:
    virtual ~Platform() = default;

    // A modal message box; closing it with Esc or the title bar answers Cancel (or Ok).
    virtual MsgResult messageBox(QWidget *owner, const QString &caption, const QString &text,
                                 MsgButtons buttons, MsgIcon icon) = 0;
    virtual void beep() = 0;
    // Runs the save dialog in dialog.initialDir; on OK stores the full path in dialog.fileName
    // and the filter chosen in dialog.filterIndex.
    virtual bool runSaveDialog(QWidget *owner, SaveDialogState &dialog) = 0;
    // Waits for a save running on another thread while timers keep running; a save that takes
    // longer than about half a second shows its progress with a cancel button. False: the user
    // cancelled (the save itself may still have to be told).
    virtual bool waitForSave(QWidget *owner, const std::function<bool()> &finished,
                             const std::function<int()> &percent) = 0;
    // The text-entry dialog: OK returns true and the edited text in value.
    virtual bool inputQuery(QWidget *owner, const QString &caption, const QString &prompt,
                            QString &value) = 0;
    // Number of sound output devices the audio layer sees.
    virtual int waveOutDeviceCount() = 0;
    // Stacking only: never moves, resizes or hides the window.
    virtual void setStayOnTop(QWidget *window, bool onTop) = 0;
    // Starts the desktop's mixer, on its recording view where it has one; where none is
    // installed, says which package to install.
    virtual void openVolumeControl(QWidget *owner) = 0;
    // Shows the help file's contents.
    virtual void showHelp(QWidget *owner, const QString &helpFile) = 0;
    // Keeps the machine from suspending while a recording runs (where the desktop allows).
    virtual void inhibitSleep(bool on) = 0;
    // Local time, for the stop timer's time-stamped names.
    virtual QDateTime now() = 0;
    // The pointer's screen position, and the widget under it (disabled widgets included).
    virtual QPoint cursorPos() = 0;
    virtual QWidget *widgetAt(const QPoint &globalPos) = 0;
    // Ends the program at once, without the close query. Never returns.
    [[noreturn]] virtual void terminate(int exitCode) = 0;
};
