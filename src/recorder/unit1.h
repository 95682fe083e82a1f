// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's controller: the recorder's commands as the window's event handlers.
// Handlers set the controls' states imperatively, in the order the commands have always used;
// the toolbar, menu and status bar are the recorder's only model.
#pragma once

#include "apppaths.h"
#include "mainwindowui.h"
#include "platform.h"

#include <QMainWindow>
#include <QThread>
#include <QStringList>

#include <functional>
#include <memory>

class AudioBackend;
class QAction;
class TAboutBox;
class TMediaPlayer;
struct RecoveredTake;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // Builds the window and runs its creation handler (FormCreate), which prepares a new
    // recording and, with "-rec" as the first argument, starts recording.
    TForm1(Platform &platform, std::unique_ptr<AudioBackend> backend, AppPaths paths,
           QStringList arguments, QWidget *parent = nullptr);
    ~TForm1() override;

    // The About box the application created after this window.
    void setAboutBox(TAboutBox *box) { AboutBox = box; }

    // State the tests and the application read.
    bool fileSaved() const { return FileSaved; }
    bool playing() const { return Playing; }
    TMediaPlayer &mediaPlayer() { return *MediaPlayer1; }
    const SaveDialogState &saveDialog() const { return SaveDialog1; }
    const AppPaths &paths() const { return m_paths; }

    // Saves the recordings that an earlier run left in its spools (a crash, a kill, a power
    // loss) beside the program, and tells the user which files they are. The copying runs on a
    // thread of its own, so the window answers meanwhile; the message comes when it is done.
    void RecoverEarlierTakes();
    bool recovering() const;
    // Ends the program at once (SIGTERM and the like): no dialogs; the settings are written
    // as far as they can be, and an unsaved recording is kept on disk for the next start.
    void EndAtOnce();

    // Runs the close query for a request to end the desktop session; false refuses it. After
    // true, the window closes without asking again.
    bool querySessionEnd();

    // Commands (the sender is never used, so none takes one).
    void SBNewClick();
    void SSMenuClick(QAction *sender);
    void SBRecClick();
    void SBStopClick();
    void SBPlayClick();
    void SBPauseClick();
    void SBSaveClick();
    void SSosaClick();
    void SPauseClick();
    void Panel2DblClick();
    void Label1DblClick();
    void Timer1Timer();
    void SBTimerClick();
    void MMTimerClick();
    void SBTimerMouseDown(Qt::MouseButton button);
    void SBTimerMouseUp(Qt::MouseButton button);
    void MMTimerSetClick();
    void MMTimerAutoSaveClick();
    void MMCompactModeClick();
    void MMStayOnTopClick();
    void MMVolumeClick();
    void Contents1Click();
    void About1Click();
    void MMExitClick();
    void FormCloseQuery(bool &canClose);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void FormCreate();
    void ReadSettings();
    void WriteSettings();
    bool UnsavedGuard(const QString &text);
    bool SaveRecording();
    // A save covers what it saved: during a recording the take stays unsaved, since more of it
    // follows; otherwise the take is saved whole.
    void NoteSaved();
    // After a stop or a pause: a take saved while it ran, with nothing recorded since, is saved.
    void NoteStopped();
    // why: the reason when the save says it; else the last WAV save's, else the code's text.
    void ReportSaveFailure(const QString &target, quint32 code, const QString &why = {});
    void ReportRecoveredTakes(const QList<RecoveredTake> &takes);
    [[noreturn]] void DeviceFailure();
    void WriteWorkFileTemplate(qint32 rate, qint32 bits, qint32 channels);
    void SetInitialDir(const QString &dir);
    void ReportDeviceFault();
    void UpdateSleepInhibit();
    void EnableTimer1();

    // The application's general error display for what a handler lets escape.
    void ShowError(const QString &message);
    // Runs a handler from an event, catching what escapes it.
    void Guarded(const std::function<void()> &handler);
    void ConnectHandlers();

    Platform &m_platform;
    AppPaths m_paths;
    QStringList m_arguments;
    MainWindowUi ui;
    std::unique_ptr<TMediaPlayer> MediaPlayer1;
    std::unique_ptr<QThread> m_recovery;
    SaveDialogState SaveDialog1;
    TAboutBox *AboutBox = nullptr;
    QString m_helpFile;
    int m_checkedFormat = 13;  // the format entry the recorder last checked
    bool FileSaved = false;
    bool Playing = false;
    bool m_closeApproved = false;  // the session's end already ran the close query
    qint64 m_savedBytes = -1;  // what the last save during the running take covered
    qint64 m_lastSaveBytes = 0;  // what the last successful save wrote
};
