// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "unit1.h"

#include "about.h"
#include "audiobackend.h"
#include "encoder.h"
#include "fileio.h"
#include "routines.h"
#include "spoolrecovery.h"
#include "strconv.h"
#include "tmediaplayer.h"
#include "wavfile.h"
#include "widgets.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

#include <unistd.h>

namespace {
const QString kRecording = QStringLiteral("録音中...");
const QString kStopped = QStringLiteral("停止");
const QString kPlaying = QStringLiteral("再生中...");
const QString kPaused = QStringLiteral("一時停止");
const QString kUnsavedQuestion =
    QStringLiteral("ファイルは保存されていません。\n\rファイルを保存しますか？");

// An error a handler lets escape to the general error display.
class EInOutError : public std::runtime_error {
public:
    explicit EInOutError(const QString &message) : std::runtime_error(message.toStdString()) {}
};
}  // namespace

TForm1::TForm1(Platform &platform, std::unique_ptr<AudioBackend> backend, AppPaths paths,
               QStringList arguments, QWidget *parent)
    : QMainWindow(parent),
      m_platform(platform),
      m_paths(std::move(paths)),
      m_arguments(std::move(arguments)),
      MediaPlayer1(std::make_unique<TMediaPlayer>(std::move(backend), m_paths.stateDir())) {
    setObjectName(QStringLiteral("Form1"));
    ui.setupUi(this);
    ConnectHandlers();
    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1() {
    if (m_recovery)
        m_recovery->wait();
}

void TForm1::FormCreate() {
    if (m_platform.waveOutDeviceCount() == 0)
        m_platform.messageBox(this, QStringLiteral("警告"),
                              QStringLiteral("サウンドカードがありません。\n\rTavrinが動作しない可能性があります。"),
                              MsgButtons::Ok, MsgIcon::None);

    ReadSettings();

    const int width = ui.SBTimer->x() + ui.SBTimer->width() + 2;
    if (ui.MMCompactMode->isChecked()) {
        ui.Sosa1->setVisible(true);
        MainWindowUi::setClientSize(this, width, ui.Panel2->height());
    } else {
        MainWindowUi::setClientSize(this, width, ui.Panel1->height() + ui.Panel2->height() + 1);
    }

    if (ui.MMStayOnTop->isChecked())
        m_platform.setStayOnTop(this, true);

    m_helpFile = m_paths.helpFile();
    QApplication::setWindowIcon(windowIcon());
    MediaPlayer1->SetTimeFormat(0);

    FileSaved = true;
    Playing = false;

    SBNewClick();
    if (!m_arguments.isEmpty() && m_arguments.first() == QLatin1String("-rec"))
        SBRecClick();
}

// ---- New, format and the work file

bool TForm1::UnsavedGuard(const QString &text) {
    if (FileSaved)
        return true;
    if (ui.Label1->caption() != kRecording)
        m_platform.beep();
    switch (m_platform.messageBox(this, QStringLiteral("確認"), text, MsgButtons::YesNoCancel,
                                  MsgIcon::Question)) {
    case MsgResult::Yes:
        if (!m_platform.runSaveDialog(this, SaveDialog1))
            return false;
        // A failed save must not let the caller discard the recording.
        if (!SaveRecording())
            return false;
        NoteSaved();
        return true;
    case MsgResult::No:
        return true;
    default:
        return false;
    }
}

bool TForm1::SaveRecording() {
    const QString target = SaveDialog1.fileName;
    MediaPlayer1->FileName = target;
    const SaveSource source = MediaPlayer1->saveSource();
    if (const quint32 code = MediaPlayer1->ErrorCode(); code != 0) {
        if (source.fd >= 0)
            ::close(source.fd);
        QString reason;
        mciGetErrorString(code, &reason);
        ReportSaveFailure(target, code, reason);
        return false;
    }
    // On a thread of its own, so the window and a running recording go on meanwhile.
    SaveJob job(target, saveFormatFor(target, SaveDialog1.filterIndex), source);
    if (!m_platform.waitForSave(this, [&job] { return job.finished(); }, [&job] { return job.percent(); }))
        job.cancel();
    const SaveResult result = job.wait();
    if (result.cancelled)
        return false;
    if (result.code != 0) {
        ReportSaveFailure(target, result.code, result.reason);
        return false;
    }
    SetInitialDir(QFileInfo(target).absolutePath() + QLatin1Char('/'));
    SaveDialog1.fileName.clear();
    m_lastSaveBytes = source.bytes;
    return true;
}

void TForm1::NoteSaved() {
    if (MediaPlayer1->Mode() == ModeRecording) {
        m_savedBytes = m_lastSaveBytes;
        return;
    }
    FileSaved = true;
    m_savedBytes = -1;
    MediaPlayer1->MarkSaved();
}

void TForm1::NoteStopped() {
    if (!FileSaved && m_savedBytes >= 0 && MediaPlayer1->DataBytes() == m_savedBytes)
        NoteSaved();
}

// The user must hear of a failed save, or a take that never reached the disk would pass for
// saved. The code is taken at the save: any later call into the device resets it. The box
// looks like the device-fault box: the reason is a whole sentence already.
void TForm1::ReportSaveFailure(const QString &target, quint32 code, const QString &why) {
    QString reason = why.isEmpty() ? MediaPlayer1->SaveReason() : why;
    if (reason.isEmpty() && !mciGetErrorString(code, &reason))
        reason = QStringLiteral("原因不明のエラーです。");
    m_platform.messageBox(this, QStringLiteral("Tavrin"),
                          QStringLiteral("ファイル %1 を保存できません。\n%2").arg(target, reason),
                          MsgButtons::Ok, MsgIcon::Stop);
}

void TForm1::SetInitialDir(const QString &dir) {
    SaveDialog1.initialDir = DropTrailingSeparator(dir);
}

void TForm1::DeviceFailure() {
    m_platform.messageBox(this, QStringLiteral("エラー"), QStringLiteral("MCIエラーが発生しました。"),
                          MsgButtons::Ok, MsgIcon::None);
    m_platform.terminate(1);
    std::abort();  // terminate() does not return; this only tells the compiler so
}

void TForm1::WriteWorkFileTemplate(qint32 rate, qint32 bits, qint32 channels) {
    const QString path = m_paths.workFile();
    // An empty recording's header. Whole or not at all, private, and in place of a link
    // planted there, never through it.
    if (writeWavFile(path, AudioFormat{rate, bits, channels}, -1, 0, 0, AtomicFile::Mode::Replace, nullptr,
                     nullptr, AtomicFile::Links::Replace) != 0)
        throw EInOutError(QStringLiteral("ファイル %1 を作成できません").arg(path));
}

void TForm1::SSMenuClick(QAction *sender) {
    if (!UnsavedGuard(kUnsavedQuestion))
        return;
    const int tag = sender->data().toInt();
    ui.SS.at(tag)->setChecked(true);
    m_checkedFormat = tag;
    MediaPlayer1->Close();

    qint32 rate = 22050, bits = 8, channels = 1;
    for (QAction *entry : ui.MMSelect->actions()) {
        if (entry->isChecked()) {
            const QString hint = entry->statusTip();
            rate = strToIntDef(CommaField(hint, 1), 0);
            bits = strToIntDef(CommaField(hint, 2), 0);
            channels = strToIntDef(CommaField(hint, 3), 0);
        }
    }
    WriteWorkFileTemplate(rate, bits, channels);
    FileSaved = true;
    SBNewClick();
}

void TForm1::SBNewClick() {
    if (!UnsavedGuard(kUnsavedQuestion))
        return;
    ui.Panel2->setCaption(QStringLiteral("00:00:00/00:00:00"));
    for (QAction *entry : ui.MMSelect->actions()) {
        if (!entry->isChecked())
            continue;
        QString caption = entry->text();
        caption = ReplaceText(caption, QStringLiteral("ビット"), QStringLiteral("ﾋﾞｯﾄ"));
        caption = ReplaceText(caption, QStringLiteral("ステレオ"), QStringLiteral("ｽﾃﾚｵ"));
        caption = ReplaceText(caption, QStringLiteral("モノラル"), QStringLiteral("ﾓﾉﾗﾙ"));
        ui.Label1->setCaption(caption);
        // A work file that is missing, or damaged past reading, is written afresh: it only
        // ever holds the template, so nothing is lost by that.
        WavInfo info;
        if (readWavHeader(m_paths.workFile(), &info) != 0)
            SSMenuClick(entry);
    }
    MediaPlayer1->FileName = m_paths.workFile();
    try {
        MediaPlayer1->Open();
    } catch (const EMCIDeviceError &) {
        DeviceFailure();
    }
    FileSaved = true;
    Playing = false;
    m_savedBytes = -1;
    ui.MMSave->setEnabled(false);
    ui.SBSave->setEnabled(false);
    ui.SBPlay->setEnabled(false);
    ui.SBPause->setEnabled(false);
    ui.SBStop->setEnabled(false);
    ui.SBRec->setEnabled(true);
    ui.Sosa1->setText(QStringLiteral("録音(&C)"));
    UpdateSleepInhibit();
}

// ---- Transport

void TForm1::SBRecClick() {
    ui.Label1->setCaption(kRecording);
    try {
        MediaPlayer1->Record();
    } catch (const EMCIDeviceError &) {
        DeviceFailure();
    }
    ui.SBRec->setEnabled(false);
    ui.SBPause->setEnabled(true);
    ui.SBStop->setEnabled(true);
    ui.Sosa1->setText(QStringLiteral("停止(&C)"));
    FileSaved = false;
    m_closeApproved = false;  // a new take is not covered by an earlier session-end answer
    EnableTimer1();
    UpdateSleepInhibit();
}

void TForm1::SBStopClick() {
    ui.Label1->setCaption(kStopped);
    MediaPlayer1->Stop();
    Playing = false;
    MediaPlayer1->Rewind();
    ui.MMSave->setEnabled(true);
    ui.SBSave->setEnabled(true);
    ui.SBPause->setEnabled(false);
    ui.SBStop->setEnabled(false);
    ui.SBPlay->setEnabled(true);
    ui.Sosa1->setText(QStringLiteral("再生(&C)"));
    ui.Timer1->stop();
    UpdateSleepInhibit();
    NoteStopped();
    Timer1Timer();
}

void TForm1::SBPlayClick() {
    ui.Label1->setCaption(kPlaying);
    try {
        MediaPlayer1->Play();
    } catch (const EMCIDeviceError &) {
        DeviceFailure();
    }
    Playing = true;
    ui.SBPlay->setEnabled(false);
    ui.SBPause->setEnabled(true);
    ui.SBStop->setEnabled(true);
    ui.Sosa1->setText(QStringLiteral("停止(&C)"));
    EnableTimer1();
}

void TForm1::SBPauseClick() {
    ui.Label1->setCaption(kPaused);
    MediaPlayer1->Stop();
    ui.Timer1->stop();
    ui.SBPause->setEnabled(false);
    ui.SBStop->setEnabled(false);
    if (Playing)
        ui.SBPlay->setEnabled(true);
    else
        ui.SBRec->setEnabled(true);
    UpdateSleepInhibit();
    NoteStopped();
    // The tick is off now: what the pause met (the disk refusing the last audio) is told here.
    ReportDeviceFault();
}

void TForm1::SBSaveClick() {
    if (!m_platform.runSaveDialog(this, SaveDialog1))
        return;
    if (MediaPlayer1->Mode() == ModePlaying)
        SBStopClick();
    if (SaveRecording())
        NoteSaved();
}

void TForm1::SSosaClick() {
    if (ui.SBRec->isEnabled())
        SBRecClick();
    else if (ui.SBPlay->isEnabled())
        SBPlayClick();
    else if (ui.SBStop->isEnabled())
        SBStopClick();
}

void TForm1::SPauseClick() {
    if (ui.SBPause->isEnabled())
        SBPauseClick();
    else
        SSosaClick();
}

void TForm1::Panel2DblClick() {
    if (ui.Label1->caption() != kPlaying)
        return;
    const qint32 position = MediaPlayer1->Position();
    if (qint64(position) + 10000 < MediaPlayer1->Length())
        MediaPlayer1->Seek(position + 10000);
    MediaPlayer1->Play();
    EnableTimer1();
}

void TForm1::Label1DblClick() {
    if (ui.Label1->caption() != kPlaying)
        return;
    const qint32 position = MediaPlayer1->Position();
    MediaPlayer1->Seek(position < 10000 ? 0 : position - 10000);
    MediaPlayer1->Play();
}

void TForm1::Timer1Timer() {
    QString failedTarget;
    quint32 failedSaveCode = 0;
    if (Playing && MediaPlayer1->Length() == MediaPlayer1->Position())
        SBStopClick();

    if (MediaPlayer1->Mode() == ModeRecording && ui.SBTimer->isChecked() &&
        ui.SBTimer->text() == FormatHms(MediaPlayer1->Length() / 1000)) {
        ui.Label1->setCaption(kStopped);
        MediaPlayer1->Stop();
        MediaPlayer1->Rewind();
        ui.MMSave->setEnabled(true);
        ui.SBSave->setEnabled(true);
        ui.SBPause->setEnabled(false);
        ui.SBStop->setEnabled(false);
        ui.SBPlay->setEnabled(true);
        if (ui.MMTimerAutoSave->isChecked()) {
            MediaPlayer1->FileName = m_paths.dataDir() + QLatin1Char('/') +
                                     TimeStampedName(m_platform.now());
            // A generated name never replaces a file: a taken one gets "-2", "-3"...
            MediaPlayer1->Save(AtomicFile::Mode::NoReplace);
            failedSaveCode = MediaPlayer1->ErrorCode();
            if (failedSaveCode == 0) {
                FileSaved = true;
                MediaPlayer1->MarkSaved();
                if (!MediaPlayer1->SavedAs().isEmpty())
                    MediaPlayer1->FileName = MediaPlayer1->SavedAs();
            } else {
                failedTarget = MediaPlayer1->FileName;
            }
        }
        ui.Timer1->stop();
        UpdateSleepInhibit();
        NoteStopped();
    }

    const qint32 position = MediaPlayer1->Position();
    ui.Panel2->setCaption(FormatHms(position / 1000) + QLatin1Char('/') +
                          FormatHms(MediaPlayer1->Length() / 1000));
    if (!failedTarget.isEmpty())
        ReportSaveFailure(failedTarget, failedSaveCode);

    ReportDeviceFault();
}

// The device stops by itself when the sound server goes away or the disk fills up; the
// window then shows the stop and says why.
void TForm1::ReportDeviceFault() {
    const DeviceFault fault = MediaPlayer1->takeFault();
    if (fault.code == 0)
        return;
    const QString state = ui.Label1->caption();
    if (!fault.earlierStream && (state == kRecording || state == kPlaying))
        SBStopClick();
    UpdateSleepInhibit();
    m_platform.messageBox(this, QStringLiteral("Tavrin"), fault.text, MsgButtons::Ok, MsgIcon::Stop);
}

// Switching on a timer that already runs keeps its rhythm, as a window timer's does.
void TForm1::EnableTimer1() {
    if (!ui.Timer1->isActive())
        ui.Timer1->start();
}

void TForm1::UpdateSleepInhibit() {
    m_platform.inhibitSleep(MediaPlayer1->Mode() == ModeRecording);
}

// ---- Recovery and the abrupt end

void TForm1::RecoverEarlierTakes() {
    if (m_recovery)
        return;
    auto takes = std::make_shared<QList<RecoveredTake>>();
    m_recovery.reset(QThread::create([takes, state = m_paths.stateDir(), data = m_paths.dataDir()] {
        *takes = recoverOrphanedSpools(state, data);
    }));
    connect(m_recovery.get(), &QThread::finished, this, [this, takes] { ReportRecoveredTakes(*takes); });
    m_recovery->start(QThread::LowPriority);
}

bool TForm1::recovering() const {
    return m_recovery && !m_recovery->isFinished();
}

// A few names, and how many more: a message box with thousands of lines helps no one.
static QString someNames(const QStringList &names) {
    constexpr int kShown = 5;
    QString text = names.mid(0, kShown).join(QLatin1Char('\n'));
    if (names.size() > kShown)
        text += QStringLiteral("\nほか %1 件").arg(names.size() - kShown);
    return text;
}

void TForm1::ReportRecoveredTakes(const QList<RecoveredTake> &takes) {
    if (takes.isEmpty())
        return;
    QStringList saved, kept;
    for (const RecoveredTake &take : takes) {
        if (take.savedAs.isEmpty())
            kept.append(take.spool);
        else
            saved.append(QFileInfo(take.savedAs).fileName());
    }
    QString text;
    if (!saved.isEmpty())
        text = QStringLiteral("前回保存されずに終了した録音を復元し、%1 に次の名前で保存しました。\n\n%2")
                   .arg(m_paths.dataDir(), someNames(saved));
    if (!kept.isEmpty()) {
        if (!text.isEmpty())
            text += QStringLiteral("\n\n");
        text += QStringLiteral("次の録音は %1 に保存できなかったため、そのまま残してあります。\n\n%2")
                    .arg(m_paths.dataDir(), someNames(kept));
    }
    m_platform.messageBox(this, QStringLiteral("Tavrin"), text, MsgButtons::Ok,
                          kept.isEmpty() ? MsgIcon::Information : MsgIcon::Warning);
}

void TForm1::EndAtOnce() {
    try {
        WriteSettings();
    } catch (const std::exception &) {
        // Nobody is there to read a message now; the settings of the last close remain.
    }
    ui.Timer1->stop();
    if (FileSaved)
        MediaPlayer1->Close();
    else
        MediaPlayer1->KeepForRecovery();
    m_platform.inhibitSleep(false);
}

// ---- Stop timer

void TForm1::SBTimerClick() {
    ui.MMTimer->setChecked(ui.SBTimer->isChecked());
}

void TForm1::MMTimerClick() {
    ui.SBTimer->setChecked(!ui.SBTimer->isChecked());
    ui.MMTimer->setChecked(!ui.MMTimer->isChecked());
}

void TForm1::SBTimerMouseDown(Qt::MouseButton button) {
    if (button == Qt::RightButton)
        ui.SBTimer->grabMouse();
}

void TForm1::SBTimerMouseUp(Qt::MouseButton button) {
    if (button != Qt::RightButton)
        return;
    QWidget *captured = QWidget::mouseGrabber();
    if (!captured || captured->objectName() != QLatin1String("SBTimer"))
        return;
    QWidget *under = m_platform.widgetAt(m_platform.cursorPos());
    // Releasing the capture first keeps the entry dialog's own mouse input working.
    captured->releaseMouse();
    if (under && under->objectName() == QLatin1String("SBTimer"))
        MMTimerSetClick();
}

void TForm1::MMTimerSetClick() {
    QString value = ui.SBTimer->text();
    if (!m_platform.inputQuery(this, QStringLiteral("タイマー設定"),
                               QStringLiteral("停止する時間を設定して下さい。(hh:nn:ss)"), value))
        value = ui.SBTimer->text();
    ui.SBTimer->setText(value);
    ui.SBTimer->setText(NormaliseStopTime(ui.SBTimer->text()));
}

void TForm1::MMTimerAutoSaveClick() {
    ui.MMTimerAutoSave->setChecked(!ui.MMTimerAutoSave->isChecked());
}

// ---- Window options, help and About

void TForm1::MMCompactModeClick() {
    const int width = MainWindowUi::clientWidth(this);
    if (ui.MMCompactMode->isChecked()) {
        ui.MMCompactMode->setChecked(false);
        ui.Sosa1->setVisible(false);
        MainWindowUi::setClientSize(this, width, ui.Panel1->height() + ui.Panel2->height() + 1);
    } else {
        ui.MMCompactMode->setChecked(true);
        ui.Sosa1->setVisible(true);
        MainWindowUi::setClientSize(this, width, ui.Panel2->height());
    }
}

void TForm1::MMStayOnTopClick() {
    if (ui.MMStayOnTop->isChecked()) {
        ui.MMStayOnTop->setChecked(false);
        m_platform.setStayOnTop(this, false);
    } else {
        ui.MMStayOnTop->setChecked(true);
        m_platform.setStayOnTop(this, true);
    }
}

void TForm1::MMVolumeClick() {
    m_platform.openVolumeControl(this);
}

void TForm1::Contents1Click() {
    m_platform.showHelp(this, m_helpFile);
}

void TForm1::About1Click() {
    if (AboutBox)
        AboutBox->exec();
}

// ---- Errors and wiring

void TForm1::ShowError(const QString &message) {
    m_platform.messageBox(this, QStringLiteral("Tavrin"), ErrorDisplayText(message), MsgButtons::Ok,
                          MsgIcon::Stop);
}

void TForm1::Guarded(const std::function<void()> &handler) {
    try {
        handler();
    } catch (const std::exception &e) {
        ShowError(QString::fromUtf8(e.what()));
    }
}

void TForm1::ConnectHandlers() {
    const auto on = [this](QAction *action, void (TForm1::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    // Check items are not self-checking: their handlers set the mark from what it was.
    const auto onCheck = [this](QAction *action, void (TForm1::*handler)()) {
        connect(action, &QAction::triggered, this, [this, action, handler](bool checked) {
            action->setChecked(!checked);
            Guarded([this, handler] { (this->*handler)(); });
        });
    };
    const auto onButton = [this](TSpeedButton *button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };

    on(ui.MMNew, &TForm1::SBNewClick);
    on(ui.New1, &TForm1::SBNewClick);
    on(ui.MMSave, &TForm1::SBSaveClick);
    on(ui.N21, &TForm1::SBSaveClick);
    on(ui.MMExit, &TForm1::MMExitClick);
    for (QAction *entry : ui.SS) {
        if (entry->isSeparator())
            continue;
        connect(entry, &QAction::triggered, this, [this, entry] {
            // The radio group has already moved the mark; the command decides where it goes.
            ui.SS.at(m_checkedFormat)->setChecked(true);
            Guarded([this, entry] { SSMenuClick(entry); });
        });
    }
    onCheck(ui.MMTimer, &TForm1::MMTimerClick);
    on(ui.MMTimerSet, &TForm1::MMTimerSetClick);
    onCheck(ui.MMTimerAutoSave, &TForm1::MMTimerAutoSaveClick);
    onCheck(ui.MMCompactMode, &TForm1::MMCompactModeClick);
    onCheck(ui.MMStayOnTop, &TForm1::MMStayOnTopClick);
    on(ui.MMVolume, &TForm1::MMVolumeClick);
    on(ui.Contents1, &TForm1::Contents1Click);
    on(ui.About1, &TForm1::About1Click);
    on(ui.SSosa, &TForm1::SSosaClick);
    on(ui.SPause, &TForm1::SPauseClick);
    on(ui.SBack, &TForm1::Label1DblClick);
    on(ui.SSkip, &TForm1::Panel2DblClick);
    on(ui.Sosa1, &TForm1::SSosaClick);

    onButton(ui.SBNew, &TForm1::SBNewClick);
    onButton(ui.SBSave, &TForm1::SBSaveClick);
    onButton(ui.SBPlay, &TForm1::SBPlayClick);
    onButton(ui.SBPause, &TForm1::SBPauseClick);
    onButton(ui.SBStop, &TForm1::SBStopClick);
    onButton(ui.SBRec, &TForm1::SBRecClick);
    onButton(ui.SBTimer, &TForm1::SBTimerClick);
    connect(ui.SBTimer, &TSpeedButton::mousePressed, this,
            [this](Qt::MouseButton b) { Guarded([this, b] { SBTimerMouseDown(b); }); });
    connect(ui.SBTimer, &TSpeedButton::mouseReleased, this,
            [this](Qt::MouseButton b) { Guarded([this, b] { SBTimerMouseUp(b); }); });

    connect(ui.Panel2, &TStatusPanel::doubleClicked, this, [this] { Guarded([this] { Panel2DblClick(); }); });
    connect(ui.Label1, &TStatusLabel::doubleClicked, this, [this] { Guarded([this] { Label1DblClick(); }); });
    connect(ui.Timer1, &QTimer::timeout, this, [this] {
        Guarded([this] {
            try {
                Timer1Timer();
            } catch (const EMCIDeviceError &) {
                // The device closed under a running take (its work file could not be
                // rewritten): every later tick would fail alike, so it is said once.
                ui.Timer1->stop();
                UpdateSleepInhibit();
                throw;
            }
        });
    });
}
