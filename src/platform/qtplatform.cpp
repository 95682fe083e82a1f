// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "qtplatform.h"

#include "sleepinhibitor.h"

#include "helpwindow.h"

#include <QApplication>
#include <QCursor>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
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
        const QStringList files = selectedFiles();
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

bool QtPlatform::runSaveDialog(QWidget *owner, SaveDialogState &dialog) {
    SaveFileDialog fd(owner, dialog.title, dialog.initialDir);
    fd.setObjectName(QStringLiteral("SaveDialog1"));
    // Qt's own dialog looks and behaves the same on every desktop.
    fd.setOption(QFileDialog::DontUseNativeDialog, true);
    fd.setAcceptMode(QFileDialog::AcceptSave);
    fd.setFileMode(QFileDialog::AnyFile);
    fd.setNameFilters(qtNameFilters(dialog.filter));
    fd.setDefaultSuffix(dialog.defaultExt);
    if (!dialog.fileName.isEmpty())
        fd.selectFile(dialog.fileName);
    if (fd.exec() != QDialog::Accepted)
        return false;
    const QStringList files = fd.selectedFiles();
    if (files.isEmpty())
        return false;
    dialog.fileName = QFileInfo(files.first()).absoluteFilePath();
    return true;
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

void QtPlatform::openVolumeControl() {
    const QString mixer = QStandardPaths::findExecutable(QStringLiteral("pavucontrol"));
    if (mixer.isEmpty())
        return;
    // Tab 4 is the input devices: the recording levels.
    QProcess::startDetached(mixer, {QStringLiteral("--tab=4")});
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
