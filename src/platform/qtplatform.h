// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The platform services for the desktop, with Qt: message boxes, dialogs, the help window,
// always-on-top, the mixer.
#pragma once

#include "platform.h"

#include <QPointer>

#include <functional>
#include <memory>

class HelpWindow;
class SleepInhibitor;
class QDialog;

class QtPlatform : public Platform {
public:
    // countOutputDevices: the audio layer's count of sound output devices.
    explicit QtPlatform(std::function<int()> countOutputDevices = {});
    ~QtPlatform() override;

    MsgResult messageBox(QWidget *owner, const QString &caption, const QString &text,
                         MsgButtons buttons, MsgIcon icon) override;
    void beep() override;
    bool runSaveDialog(QWidget *owner, SaveDialogState &dialog) override;
    bool waitForSave(QWidget *owner, const std::function<bool()> &finished,
                     const std::function<int()> &percent) override;
    bool inputQuery(QWidget *owner, const QString &caption, const QString &prompt,
                    QString &value) override;
    int waveOutDeviceCount() override;
    void setStayOnTop(QWidget *window, bool onTop) override;
    void openVolumeControl(QWidget *owner) override;
    void showHelp(QWidget *owner, const QString &helpFile) override;
    void inhibitSleep(bool on) override;
    QDateTime now() override;
    QPoint cursorPos() override;
    QWidget *widgetAt(const QPoint &globalPos) override;
    [[noreturn]] void terminate(int exitCode) override;

    // The help window once showHelp has made it, for tests.
    HelpWindow *helpWindow() const;

    // The mixers to try, in order: the program and its arguments.
    static QList<QStringList> volumeCommands();

    // "desc|pattern|desc|pattern" as the recorder keeps it, in Qt's "desc (pattern)" form.
    static QStringList qtNameFilters(const QString &filter);
    // Lines broken as LF+CR, CR+LF or CR alone, broken as LF only, for display.
    static QString displayText(const QString &text);

private:
    std::function<int()> m_countOutputDevices;
    QPointer<HelpWindow> m_help;
    std::unique_ptr<SleepInhibitor> m_sleep;
};
