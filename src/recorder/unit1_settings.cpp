// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The settings file: read once while the window is created, written at every close request.
#include "unit1.h"

#include "inifile.h"
#include "routines.h"
#include "tmediaplayer.h"
#include "widgets.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>

namespace {
const QString kSoftware = QStringLiteral("Software");
const QString kWindow = QStringLiteral("Window");
const QString kSetting = QStringLiteral("Setting");
const QString kFile = QStringLiteral("File");
const QString kUnsavedExitQuestion =
    QStringLiteral("ファイルは保存されていません。\n\rファイルを保存してから終了しますか？");
}  // namespace

void TForm1::ReadSettings() {
    TIniFile ini(m_paths.settingsFile());

    if (ini.ReadInteger(kSoftware, QStringLiteral("Version"), 210) < 210) {
        try {
            ini.DeleteKey(kSetting, QStringLiteral("Startup"));
            ini.DeleteKey(kSetting, QStringLiteral("SaveTimer"));
            if (ini.ReadString(kSetting, QStringLiteral("Timer"), QString()).isEmpty())
                ini.DeleteKey(kSetting, QStringLiteral("Timer"));
        } catch (const std::exception &e) {
            // An old file in a read-only folder keeps its old keys; the reads go on.
            ShowError(QString::fromUtf8(e.what()));
        }
    }

    move(x(), ini.ReadInteger(kWindow, QStringLiteral("Top"), 100));
    move(ini.ReadInteger(kWindow, QStringLiteral("Left"), 100), y());

    // A position outside the submenu, or a separator, names no format: the current check stays.
    const int recMode = ini.ReadInteger(kSetting, QStringLiteral("RecMode"), 13);
    if (recMode >= 0 && recMode < ui.SS.size() && !ui.SS.at(recMode)->isSeparator()) {
        ui.SS.at(recMode)->setChecked(true);
        m_checkedFormat = recMode;
    }

    ui.MMStayOnTop->setChecked(ini.ReadBool(kSetting, QStringLiteral("StayOnTop"), false));
    ui.MMCompactMode->setChecked(ini.ReadBool(kSetting, QStringLiteral("CompactMode"), false));
    ui.MMTimerAutoSave->setChecked(ini.ReadBool(kSetting, QStringLiteral("AutoSave"), false));
    ui.SBTimer->setText(ini.ReadString(kSetting, QStringLiteral("Timer"), QStringLiteral("00:00:00")));
    const bool timerOn = ini.ReadBool(kSetting, QStringLiteral("TimerON"), false);
    ui.SBTimer->setChecked(timerOn);
    ui.MMTimer->setChecked(timerOn);
    SetInitialDir(ini.ReadString(kFile, QStringLiteral("IniDir"), m_paths.dataDir() + QLatin1Char('/')));
}

void TForm1::WriteSettings() {
    TIniFile ini(m_paths.settingsFile());
    ini.WriteInteger(kSoftware, QStringLiteral("Version"), 218);
    // A Wayland compositor tells no window where it is: the position saved by an X11 session
    // stays as it was.
    if (QGuiApplication::platformName() != QLatin1String("wayland")) {
        ini.WriteInteger(kWindow, QStringLiteral("Top"), y());
        ini.WriteInteger(kWindow, QStringLiteral("Left"), x());
    }
    const QList<QAction *> entries = ui.MMSelect->actions();
    for (int position = 0; position < entries.size(); ++position) {
        if (entries.at(position)->isChecked())
            ini.WriteInteger(kSetting, QStringLiteral("RecMode"), position);
    }
    ini.WriteBool(kSetting, QStringLiteral("StayOnTop"), ui.MMStayOnTop->isChecked());
    ini.WriteBool(kSetting, QStringLiteral("CompactMode"), ui.MMCompactMode->isChecked());
    ini.WriteBool(kSetting, QStringLiteral("AutoSave"), ui.MMTimerAutoSave->isChecked());
    ini.WriteString(kFile, QStringLiteral("IniDir"), SaveDialog1.initialDir);
    ini.WriteString(kSetting, QStringLiteral("Timer"), ui.SBTimer->text());
    ini.WriteBool(kSetting, QStringLiteral("TimerON"), ui.SBTimer->isChecked());
}

void TForm1::FormCloseQuery(bool &canClose) {
    try {
        WriteSettings();
    } catch (const std::exception &e) {
        // The remaining writes are skipped, but a read-only folder must never keep the user
        // from closing, nor cost a recording: the question below is still asked.
        ShowError(QString::fromUtf8(e.what()));
    }
    canClose = true;
    if (!FileSaved)
        canClose = UnsavedGuard(kUnsavedExitQuestion);
}

void TForm1::closeEvent(QCloseEvent *event) {
    // Only the session's own end (Qt closing the windows) relies on the earlier answer; the
    // close box after a cancelled log-out asks again.
    if (m_closeApproved && !event->spontaneous()) {
        // Whatever the take gained since the question (it may have gone on recording) is
        // nobody's to throw away: the next start recovers it.
        if (!FileSaved)
            MediaPlayer1->KeepForRecovery();
        event->accept();
        return;
    }
    bool canClose = true;
    Guarded([&] { FormCloseQuery(canClose); });
    if (canClose)
        event->accept();
    else
        event->ignore();
}

void TForm1::MMExitClick() {
    m_closeApproved = false;
    close();
}

bool TForm1::querySessionEnd() {
    bool canClose = true;
    Guarded([&] { FormCloseQuery(canClose); });
    m_closeApproved = canClose;
    return canClose;
}
