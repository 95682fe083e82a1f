// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "qtplatform.h"

#include "appsetup.h"
#include "sleepinhibitor.h"

#include "helpwindow.h"

#include <QApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

QtPlatform::QtPlatform(std::function<int()> countOutputDevices)
    : m_countOutputDevices(std::move(countOutputDevices)) {}

QtPlatform::~QtPlatform() {
    delete m_help.data();
}

QString QtPlatform::displayText(const QString &text) {
    QString t = text;
    t.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

MsgResult QtPlatform::messageBox(QWidget *owner, const QString &caption, const QString &text,
                                 MsgButtons buttons, MsgIcon icon) {
    QMessageBox box(owner);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(displayText(text));
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Stop: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    if (buttons == MsgButtons::Ok) {
        QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
        return MsgResult::Ok;
    }
    QPushButton *yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    QPushButton *cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    // Esc and the title bar's close button both press this one.
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return MsgResult::Yes;
    if (box.clickedButton() == no)
        return MsgResult::No;
    return MsgResult::Cancel;
}

void QtPlatform::beep() {
    QApplication::beep();
}

QStringList QtPlatform::qtNameFilters(const QString &filter) {
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString &description = parts.at(i);
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt takes the patterns from the last parentheses of the entry.
        if (description.endsWith(QLatin1Char('(') + patterns + QLatin1Char(')')))
            result << description;
        else
            result << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return result;
}

namespace {

// The save dialog refuses a name in a folder that does not exist, as the folder must exist
// for the file to be written at all; the file itself may be new.
class SaveFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        // A desktop's chooser has closed already; runSaveDialog checks its answer.
        const bool ownDialog = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        const QStringList files = ownDialog ? selectedFiles() : QStringList();
        if (!files.isEmpty()) {
            const QFileInfo info(files.first());
            if (!info.isDir() && !info.absoluteDir().exists()) {
                QMessageBox::warning(this, windowTitle(),
                                     QStringLiteral("フォルダ %1 が見つかりません。\nフォルダ名を確認してください。")
                                         .arg(QDir::toNativeSeparators(info.absolutePath())));
                return;
            }
        }
        QFileDialog::accept();
    }
};

} // namespace

// The extension of a "desc|pattern|..." filter's entry (from 1): "*.flac" gives "flac".
static QString filterSuffix(const QString &filter, int index) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    const qsizetype at = 2 * qsizetype(index - 1) + 1;
    if (index < 1 || at >= parts.size())
        return {};
    const QString first = parts.at(at).split(QLatin1Char(';')).first().trimmed();
    return first.startsWith(QLatin1String("*.")) && first.indexOf(QLatin1Char('*'), 2) < 0 ? first.mid(2)
                                                                                             : QString();
}

bool QtPlatform::runSaveDialog(QWidget *owner, SaveDialogState &dialog) {
    const QStringList filters = qtNameFilters(dialog.filter);
    const int chosen = qBound(1, dialog.filterIndex, int(qMax<qsizetype>(1, filters.size())));
    auto suffixFor = [&](int index) {
        const QString suffix = filterSuffix(dialog.filter, index);
        return suffix.isEmpty() ? dialog.defaultExt : suffix;
    };
    // The desktop's own chooser where the platform theme or the portal offers one, else Qt's.
    SaveFileDialog fd(owner, dialog.title, dialog.initialDir);
    fd.setObjectName(QStringLiteral("SaveDialog1"));
    fd.setAcceptMode(QFileDialog::AcceptSave);
    fd.setFileMode(QFileDialog::AnyFile);
    fd.setNameFilters(filters);
    if (!filters.isEmpty())
        fd.selectNameFilter(filters.at(chosen - 1));
    fd.setDefaultSuffix(suffixFor(chosen));
    QObject::connect(&fd, &QFileDialog::filterSelected, &fd, [&](const QString &filter) {
        fd.setDefaultSuffix(suffixFor(int(filters.indexOf(filter)) + 1));
    });
    if (!dialog.fileName.isEmpty())
        fd.selectFile(dialog.fileName);
    for (;;) {
        if (fd.exec() != QDialog::Accepted)
            return false;
        const int index = int(filters.indexOf(fd.selectedNameFilter())) + 1;
        QStringList files = fd.selectedFiles();
        if (files.isEmpty())
            return false;
        QString path = QFileInfo(files.first()).absoluteFilePath();
        // Qt's own dialog checks the folder and asks before overwriting; a desktop's chooser
        // asks only about the name as typed, before the extension is added here.
        if (!fd.findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))) {
            fd.setDefaultSuffix(QString());
            files = fd.selectedFiles();
            if (files.isEmpty())
                return false;
            path = QFileInfo(files.first()).absoluteFilePath();
            const bool suffixAdded = !QFileInfo(path).fileName().contains(QLatin1Char('.'));
            if (suffixAdded)
                path += QLatin1Char('.') + suffixFor(qMax(1, index));
            fd.setDefaultSuffix(suffixFor(qMax(1, index)));
            const QFileInfo info(path);
            if (!info.absoluteDir().exists()) {
                QMessageBox::warning(owner, dialog.title,
                                     QStringLiteral("フォルダ %1 が見つかりません。\nフォルダ名を確認してください。")
                                         .arg(QDir::toNativeSeparators(info.absolutePath())));
                continue;
            }
            if (suffixAdded && info.exists() &&
                QMessageBox::question(owner, dialog.title,
                                      QStringLiteral("%1 は既に存在します。\n上書きしますか？").arg(info.fileName())) !=
                    QMessageBox::Yes)
                continue;
        }
        dialog.fileName = path;
        if (index > 0) {
            dialog.filterIndex = index;
            dialog.defaultExt = suffixFor(index);
        }
        return true;
    }
}

bool QtPlatform::waitForSave(QWidget *owner, const std::function<bool()> &finished,
                             const std::function<int()> &percent) {
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    // Until the progress shows, no command may start under the save; timers keep running.
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (finished() || clock.elapsed() >= 500)
            loop.quit();
    });
    poll.start(20);
    if (!finished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (finished())
        return true;

    QProgressDialog progress(QStringLiteral("ファイルを保存しています..."), QStringLiteral("キャンセル"), 0,
                             100, owner);
    progress.setObjectName(QStringLiteral("SaveProgress"));
    progress.setWindowTitle(QStringLiteral("ファイルの保存"));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setMinimumDuration(0);
    QObject::disconnect(&poll, nullptr, &loop, nullptr);
    QObject::connect(&poll, &QTimer::timeout, &progress, [&] {
        if (finished())
            progress.accept();
        else
            progress.setValue(qBound(0, percent(), 99));
    });
    progress.setValue(qBound(0, percent(), 99));
    // Ends when the save does, or on the cancel button, Esc or the close box.
    progress.exec();
    return finished();
}

bool QtPlatform::inputQuery(QWidget *owner, const QString &caption, const QString &prompt,
                            QString &value) {
    QDialog dlg(owner);
    dlg.setObjectName(QStringLiteral("InputQuery"));
    dlg.setWindowTitle(caption);
    dlg.setWindowFlags(dlg.windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto *label = new QLabel(prompt, &dlg);
    label->setObjectName(QStringLiteral("Prompt"));
    auto *edit = new QLineEdit(&dlg);
    edit->setObjectName(QStringLiteral("Edit"));
    edit->setMaxLength(255);
    edit->setText(value);
    edit->selectAll();
    label->setBuddy(edit);

    auto *buttons = new QDialogButtonBox(&dlg);
    QPushButton *ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("OKButton"));
    ok->setDefault(true);
    QPushButton *cancel = buttons->addButton(QStringLiteral("キャンセル"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("CancelButton"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);

    auto *layout = new QVBoxLayout(&dlg);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    dlg.adjustSize();
    QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame(QPoint(), dlg.size());
        frame.moveCenter(screen->availableGeometry().center());
        dlg.move(frame.topLeft());
    }
    edit->setFocus();

    if (dlg.exec() != QDialog::Accepted)
        return false;
    value = edit->text();
    return true;
}

int QtPlatform::waveOutDeviceCount() {
    return m_countOutputDevices ? m_countOutputDevices() : 0;
}

void QtPlatform::setStayOnTop(QWidget *window, bool onTop) {
    if (!window)
        return;
    QWidget *top = window->window();
    Qt::WindowFlags flags = top->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    // QWidget::setWindowFlags would re-create the native window, which hides it and may move
    // it. Telling the widget alone, then its native window, changes only the stacking; a
    // window not created yet takes the flag when it is.
    top->overrideWindowFlags(flags);
    if (QWindow *handle = top->windowHandle())
        handle->setFlags(flags);
}

QList<QStringList> QtPlatform::volumeCommands() {
    // pavucontrol's tab 4 is the input devices: the recording levels. The desktops' own
    // sound settings come after the two mixers, the running desktop's first.
    QList<QStringList> mixers = {{QStringLiteral("pavucontrol"), QStringLiteral("--tab=4")},
                                 {QStringLiteral("pavucontrol-qt")}};
    QList<QStringList> gnome = {{QStringLiteral("gnome-control-center"), QStringLiteral("sound")}};
    QList<QStringList> kde = {{QStringLiteral("kcmshell6"), QStringLiteral("kcm_pulseaudio")},
                              {QStringLiteral("kcmshell5"), QStringLiteral("kcm_pulseaudio")}};
    if (qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("KDE"), Qt::CaseInsensitive))
        mixers << kde << gnome;
    else
        mixers << gnome << kde;
    return mixers;
}

void QtPlatform::openVolumeControl(QWidget *owner) {
    for (const QStringList &command : volumeCommands()) {
        const QString program = QStandardPaths::findExecutable(command.first());
        if (program.isEmpty())
            continue;
        QProcess mixer;
        mixer.setProgram(program);
        mixer.setArguments(command.mid(1));
        mixer.setProcessEnvironment(AppSetup::childEnvironment());
        if (mixer.startDetached())
            return;
    }
    messageBox(owner, QStringLiteral("Tavrin"),
               QStringLiteral("音量を調節するプログラムが見つかりません。\n"
                              "pavucontrol パッケージをインストールしてください。"),
               MsgButtons::Ok, MsgIcon::Information);
}

HelpWindow *QtPlatform::helpWindow() const {
    return m_help.data();
}

void QtPlatform::showHelp(QWidget *owner, const QString &helpFile) {
    if (!m_help)
        m_help = new HelpWindow(owner);
    m_help->load(helpFile);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void QtPlatform::inhibitSleep(bool on) {
    if (!m_sleep)
        m_sleep = std::make_unique<SleepInhibitor>();
    m_sleep->setInhibited(on, QStringLiteral("録音中"));
}

QDateTime QtPlatform::now() {
    return QDateTime::currentDateTime();
}

QPoint QtPlatform::cursorPos() {
    return QCursor::pos();
}

QWidget *QtPlatform::widgetAt(const QPoint &globalPos) {
    // Finds disabled widgets as well; only hidden ones and those transparent for the mouse
    // are passed over.
    return QApplication::widgetAt(globalPos);
}

void QtPlatform::terminate(int exitCode) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
