// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "appsetup.h"
#include "qtplatform.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs the action on the next modal widget of type T that is not `notThis`, once the modal
// loop that shows it is running. Keeps asking on each pass of the event loop.
template <typename T>
void onModal(std::function<void(T *)> action, QWidget *notThis = nullptr, int tries = 2000) {
    QTimer::singleShot(0, [=] {
        auto *w = qobject_cast<T *>(QApplication::activeModalWidget());
        if (w && w != notThis && w->isVisible()) {
            action(w);
            return;
        }
        if (tries > 0)
            onModal<T>(action, notThis, tries - 1);
    });
}

QPushButton *buttonWithText(QWidget *w, const QString &text) {
    for (QPushButton *b : w->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

class TstQtPlatform : public QObject {
    Q_OBJECT
private slots:
    void questionBoxHasJapaneseButtonsAndYesDefault();
    void questionBoxAnswers_data();
    void questionBoxAnswers();
    void okBoxAnswersOkWhicheverWayItCloses();
    void inputQueryShowsValueSelectedAndLimited();
    void inputQueryOkAndCancel();
    void saveDialogAcceptsNewNameWithSuffix();
    void saveDialogAsksBeforeOverwriting();
    void saveProgressShowsLateKeepsTimersAndCancels();
    void saveDialogRefusesMissingFolder();
    void nameFilterConversion();
    void stayOnTopKeepsPlaceAndWindow();
    void stayOnTopBeforeFirstShow();
    void widgetAtFindsDisabledWidgets();
    void deviceCountComesFromOwner();
    void volumeControlFallsBackToTheDesktops();
    void terminateFlushesAndSkipsExitHandlers();
    void saveDialogSpeaksJapanese();
};

void TstQtPlatform::questionBoxHasJapaneseButtonsAndYesDefault() {
    QtPlatform p;
    QString title, text;
    QStringList buttons;
    QString defaultButton;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    onModal<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        for (QAbstractButton *b : box->buttons())
            buttons << b->text();
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        box->reject();
    });
    p.messageBox(nullptr, QStringLiteral("確認"),
                 QStringLiteral("ファイルは保存されていません。\n\rファイルを保存しますか？"),
                 MsgButtons::YesNoCancel, MsgIcon::Question);
    QCOMPARE(title, QStringLiteral("確認"));
    QCOMPARE(text, QStringLiteral("ファイルは保存されていません。\nファイルを保存しますか？"));
    QCOMPARE(icon, QMessageBox::Question);
    buttons.sort();
    QStringList expected{QStringLiteral("はい(&Y)"), QStringLiteral("いいえ(&N)"), QStringLiteral("キャンセル")};
    expected.sort();
    QCOMPARE(buttons, expected);
    QCOMPARE(defaultButton, QStringLiteral("はい(&Y)"));
}

void TstQtPlatform::questionBoxAnswers_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("yes") << "はい(&Y)" << int(MsgResult::Yes);
    QTest::newRow("no") << "いいえ(&N)" << int(MsgResult::No);
    QTest::newRow("cancel") << "キャンセル" << int(MsgResult::Cancel);
    QTest::newRow("enter") << "Enter" << int(MsgResult::Yes);
    QTest::newRow("escape") << "Esc" << int(MsgResult::Cancel);
    QTest::newRow("close box") << "close" << int(MsgResult::Cancel);
}

void TstQtPlatform::questionBoxAnswers() {
    QFETCH(QString, how);
    QFETCH(int, result);
    QtPlatform p;
    onModal<QMessageBox>([how](QMessageBox *box) {
        if (how == QLatin1String("Enter"))
            QTest::keyClick(box, Qt::Key_Return);
        else if (how == QLatin1String("Esc"))
            QTest::keyClick(box, Qt::Key_Escape);
        else if (how == QLatin1String("close"))
            box->close();
        else
            buttonWithText(box, how)->click();
    });
    QCOMPARE(int(p.messageBox(nullptr, "確認", "?", MsgButtons::YesNoCancel, MsgIcon::Question)), result);
}

void TstQtPlatform::okBoxAnswersOkWhicheverWayItCloses() {
    QtPlatform p;
    QStringList buttons;
    QMessageBox::Icon icon = QMessageBox::Critical;
    onModal<QMessageBox>([&](QMessageBox *box) {
        for (QAbstractButton *b : box->buttons())
            buttons << b->text();
        icon = box->icon();
        QTest::keyClick(box, Qt::Key_Escape);
    });
    QCOMPARE(p.messageBox(nullptr, "警告", "サウンドカードがありません。", MsgButtons::Ok, MsgIcon::None),
             MsgResult::Ok);
    QCOMPARE(buttons, QStringList{"OK"});
    QCOMPARE(icon, QMessageBox::NoIcon);
    onModal<QMessageBox>([&](QMessageBox *box) {
        icon = box->icon();
        box->close();
    });
    QCOMPARE(p.messageBox(nullptr, "Tavrin", "x", MsgButtons::Ok, MsgIcon::Stop), MsgResult::Ok);
    QCOMPARE(icon, QMessageBox::Critical);
}

void TstQtPlatform::inputQueryShowsValueSelectedAndLimited() {
    QtPlatform p;
    QString caption, prompt, selected, okText, cancelText;
    int maxLength = 0;
    bool okDefault = false;
    QRect geometry;
    QString afterLongPaste, editName;
    onModal<QDialog>([&](QDialog *dlg) {
        caption = dlg->windowTitle();
        prompt = dlg->findChild<QLabel *>("Prompt")->text();
        auto *edit = dlg->findChild<QLineEdit *>("Edit");
        maxLength = edit->maxLength();
        editName = QAccessible::queryAccessibleInterface(edit)->text(QAccessible::Name);
        selected = edit->selectedText();
        auto *ok = dlg->findChild<QPushButton *>("OKButton");
        okText = ok->text();
        okDefault = ok->isDefault();
        cancelText = dlg->findChild<QPushButton *>("CancelButton")->text();
        geometry = dlg->frameGeometry();
        edit->insert(QString(300, QLatin1Char('9')));  // replaces the selection
        afterLongPaste = edit->text();
        dlg->reject();
    });
    QString value = QStringLiteral("00:01:30");
    QVERIFY(!p.inputQuery(nullptr, QStringLiteral("タイマー設定"),
                          QStringLiteral("停止する時間を設定して下さい。(hh:nn:ss)"), value));
    QCOMPARE(value, QStringLiteral("00:01:30"));
    QCOMPARE(caption, QStringLiteral("タイマー設定"));
    QCOMPARE(prompt, QStringLiteral("停止する時間を設定して下さい。(hh:nn:ss)"));
    QCOMPARE(selected, QStringLiteral("00:01:30"));
    QCOMPARE(editName, prompt);  // a screen reader names the entry by its prompt
    QCOMPARE(maxLength, 255);
    QCOMPARE(afterLongPaste, QString(255, QLatin1Char('9')));
    QCOMPARE(okText, QStringLiteral("OK"));
    QVERIFY(okDefault);
    QCOMPARE(cancelText, QStringLiteral("キャンセル"));
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    // Within the window frame's few pixels, which the platform adds once the dialog is shown.
    QVERIFY2((geometry.center() - screenCentre).manhattanLength() <= 8,
             qPrintable(QStringLiteral("dialog %1,%2 %3x%4, screen centre %5,%6")
                                    .arg(geometry.x()).arg(geometry.y()).arg(geometry.width())
                                    .arg(geometry.height()).arg(screenCentre.x()).arg(screenCentre.y())));
}

void TstQtPlatform::inputQueryOkAndCancel() {
    QtPlatform p;
    QString value = QStringLiteral("00:00:00");
    onModal<QDialog>([](QDialog *dlg) {
        auto *edit = dlg->findChild<QLineEdit *>("Edit");
        QTest::keyClicks(edit, "130");  // typing replaces the selected text
        QTest::keyClick(edit, Qt::Key_Return);
    });
    QVERIFY(p.inputQuery(nullptr, "タイマー設定", "?", value));
    QCOMPARE(value, QStringLiteral("130"));

    onModal<QDialog>([](QDialog *dlg) {
        QTest::keyClicks(dlg->findChild<QLineEdit *>("Edit"), "5");
        QTest::keyClick(dlg, Qt::Key_Escape);
    });
    QVERIFY(!p.inputQuery(nullptr, "タイマー設定", "?", value));
    QCOMPARE(value, QStringLiteral("130"));

    onModal<QDialog>([](QDialog *dlg) { dlg->close(); });
    QVERIFY(!p.inputQuery(nullptr, "タイマー設定", "?", value));
    QCOMPARE(value, QStringLiteral("130"));
}

void TstQtPlatform::saveDialogAcceptsNewNameWithSuffix() {
    QTemporaryDir dir;
    QtPlatform p;
    SaveDialogState state;
    state.initialDir = dir.path();
    QString title, suffix, directory;
    QStringList filters;
    onModal<QFileDialog>([&](QFileDialog *fd) {
        title = fd->windowTitle();
        filters = fd->nameFilters();
        suffix = fd->defaultSuffix();
        directory = fd->directory().absolutePath();
        fd->findChild<QLineEdit *>("fileNameEdit")->setText(QStringLiteral("新しい録音"));
        static_cast<QDialog *>(fd)->accept();
    });
    QVERIFY(p.runSaveDialog(nullptr, state));
    QCOMPARE(state.fileName, dir.path() + QStringLiteral("/新しい録音.wav"));
    QCOMPARE(title, QStringLiteral("ファイルの保存"));
    QCOMPARE(filters, (QStringList{QStringLiteral("WAVファイル (*.wav)"), QStringLiteral("FLACファイル (*.flac)"),
                                   QStringLiteral("Ogg Vorbisファイル (*.ogg)"), QStringLiteral("MP3ファイル (*.mp3)"),
                                   QStringLiteral("Opusファイル (*.opus)")}));
    QCOMPARE(suffix, QStringLiteral("wav"));
    QCOMPARE(directory, dir.path());
    QCOMPARE(state.filterIndex, 1);

    onModal<QFileDialog>([](QFileDialog *fd) { fd->reject(); });
    state.fileName.clear();
    QVERIFY(!p.runSaveDialog(nullptr, state));
    QVERIFY(state.fileName.isEmpty());

    // The extension follows the filter the user picks, and the next run opens on it.
    onModal<QFileDialog>([&](QFileDialog *fd) {
        QTest::keyClick(fd->findChild<QComboBox *>("fileTypeCombo"), Qt::Key_Down);
        suffix = fd->defaultSuffix();
        fd->findChild<QLineEdit *>("fileNameEdit")->setText(QStringLiteral("可逆"));
        static_cast<QDialog *>(fd)->accept();
    });
    QVERIFY(p.runSaveDialog(nullptr, state));
    QCOMPARE(suffix, QStringLiteral("flac"));
    QCOMPARE(state.fileName, dir.path() + QStringLiteral("/可逆.flac"));
    QCOMPARE(state.filterIndex, 2);
    QString shownFilter;
    onModal<QFileDialog>([&](QFileDialog *fd) {
        shownFilter = fd->selectedNameFilter();
        suffix = fd->defaultSuffix();
        fd->findChild<QLineEdit *>("fileNameEdit")->setText(QStringLiteral("x.ogg"));
        static_cast<QDialog *>(fd)->accept();
    });
    QVERIFY(p.runSaveDialog(nullptr, state));
    QCOMPARE(shownFilter, QStringLiteral("FLACファイル (*.flac)"));
    QCOMPARE(suffix, QStringLiteral("flac"));
    QCOMPARE(state.fileName, dir.path() + QStringLiteral("/x.ogg"));

    // The last two filters give their own extensions.
    const struct {
        Qt::Key key;
        const char *name;
        int index;
    } lossy[] = {{Qt::Key_End, "声.opus", 5}, {Qt::Key_Up, "歌.mp3", 4}};
    for (const auto &c : lossy) {
        const QString name = QString::fromUtf8(c.name);
        onModal<QFileDialog>([&](QFileDialog *fd) {
            QTest::keyClick(fd->findChild<QComboBox *>("fileTypeCombo"), c.key);
            fd->findChild<QLineEdit *>("fileNameEdit")->setText(name.section(QLatin1Char('.'), 0, 0));
            static_cast<QDialog *>(fd)->accept();
        });
        QVERIFY(p.runSaveDialog(nullptr, state));
        QCOMPARE(state.fileName, dir.filePath(name));
        QCOMPARE(state.filterIndex, c.index);
    }
}

void TstQtPlatform::saveProgressShowsLateKeepsTimersAndCancels() {
    QtPlatform p;
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);

    // A quick save shows nothing.
    QElapsedTimer quick;
    quick.start();
    QVERIFY(p.waitForSave(nullptr, [&] { return quick.elapsed() > 100; }, [] { return 50; }));
    QVERIFY(ticks > 0);

    QString text, caption, cancel;
    int shownAfterTicks = 0;
    // The dialog comes after half a second; looking for it sooner would use up the tries.
    QTimer::singleShot(700, [&] {
        onModal<QProgressDialog>([&](QProgressDialog *dlg) {
            caption = dlg->windowTitle();
            text = dlg->labelText();
            cancel = dlg->findChild<QPushButton *>()->text();
            shownAfterTicks = ticks;
            // Still ticking while the dialog is up.
            QTimer::singleShot(200, dlg, [dlg] { QTest::keyClick(dlg, Qt::Key_Escape); });
        });
    });
    ticks = 0;
    QVERIFY(!p.waitForSave(nullptr, [] { return false; }, [] { return 30; }));
    QCOMPARE(caption, QStringLiteral("ファイルの保存"));
    QCOMPARE(text, QStringLiteral("ファイルを保存しています..."));
    QCOMPARE(cancel, QStringLiteral("キャンセル"));
    QVERIFY(shownAfterTicks > 0);
    QVERIFY(ticks > shownAfterTicks);
}

void TstQtPlatform::saveDialogAsksBeforeOverwriting() {
    QTemporaryDir dir;
    QFile old(dir.filePath("old.wav"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.close();
    QtPlatform p;
    SaveDialogState state;
    state.initialDir = dir.path();
    int questions = 0;
    onModal<QFileDialog>([&](QFileDialog *fd) {
        fd->findChild<QLineEdit *>("fileNameEdit")->setText("old.wav");
        onModal<QMessageBox>([&](QMessageBox *box) {
            ++questions;
            box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)->click() : box->accept();
        }, fd);
        static_cast<QDialog *>(fd)->accept();
    });
    QVERIFY(p.runSaveDialog(nullptr, state));
    QCOMPARE(questions, 1);
    QCOMPARE(state.fileName, dir.filePath("old.wav"));
}

void TstQtPlatform::saveDialogRefusesMissingFolder() {
    QTemporaryDir dir;
    QtPlatform p;
    SaveDialogState state;
    state.initialDir = dir.path();
    QString warning;
    bool stillOpen = false;
    onModal<QFileDialog>([&](QFileDialog *fd) {
        fd->findChild<QLineEdit *>("fileNameEdit")->setText(dir.path() + "/nofolder/x.wav");
        onModal<QMessageBox>([&](QMessageBox *box) {
            warning = box->text();
            box->accept();
        }, fd);
        static_cast<QDialog *>(fd)->accept();
        stillOpen = fd->isVisible();
        fd->reject();
    });
    QVERIFY(!p.runSaveDialog(nullptr, state));
    QVERIFY(stillOpen);
    QCOMPARE(warning, QStringLiteral("フォルダ %1/nofolder が見つかりません。\nフォルダ名を確認してください。")
                          .arg(dir.path()));
}

void TstQtPlatform::nameFilterConversion() {
    QCOMPARE(QtPlatform::qtNameFilters(QStringLiteral("WAVファイル (*.wav)|*.wav")),
             QStringList{QStringLiteral("WAVファイル (*.wav)")});
    QCOMPARE(QtPlatform::qtNameFilters(QStringLiteral("音声|*.wav;*.aif|すべて|*.*")),
             (QStringList{QStringLiteral("音声 (*.wav *.aif)"), QStringLiteral("すべて (*.*)")}));
    QCOMPARE(QtPlatform::displayText(QStringLiteral("a\n\rb\r\nc\rd")), QStringLiteral("a\nb\nc\nd"));
}

void TstQtPlatform::stayOnTopKeepsPlaceAndWindow() {
    QtPlatform p;
    QWidget w;
    w.setGeometry(300, 200, 245, 51);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWindow *handle = w.windowHandle();
    const QRect before = w.geometry();
    p.setStayOnTop(&w, true);
    QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(handle->flags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(w.windowHandle(), handle);  // not re-created
    QVERIFY(w.isVisible());
    QCOMPARE(w.geometry(), before);
    p.setStayOnTop(&w, false);
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(!handle->flags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(w.windowHandle(), handle);
    QVERIFY(w.isVisible());
    QCOMPARE(w.geometry(), before);
}

void TstQtPlatform::stayOnTopBeforeFirstShow() {
    QtPlatform p;
    QWidget w;
    auto *child = new QWidget(&w);
    p.setStayOnTop(child, true);  // acts on the window the widget belongs to
    QVERIFY(!w.isVisible());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
}

void TstQtPlatform::widgetAtFindsDisabledWidgets() {
    QtPlatform p;
    QWidget w;
    w.setGeometry(100, 100, 245, 51);
    auto *button = new QPushButton(QStringLiteral("00:00:00"), &w);
    button->setGeometry(178, 4, 65, 25);
    button->setEnabled(false);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint inside = button->mapToGlobal(QPoint(10, 10));
    QCOMPARE(p.widgetAt(inside), button);
    QCOMPARE(p.widgetAt(w.mapToGlobal(QPoint(2, 40))), &w);
    QCOMPARE(p.widgetAt(QPoint(5000, 5000)), nullptr);
    QCursor::setPos(inside);
    QCOMPARE(p.cursorPos(), inside);
}

void TstQtPlatform::deviceCountComesFromOwner() {
    int calls = 0;
    QtPlatform counted([&] { return ++calls; });
    QCOMPARE(counted.waveOutDeviceCount(), 1);
    QCOMPARE(counted.waveOutDeviceCount(), 2);
    QtPlatform none;
    QCOMPARE(none.waveOutDeviceCount(), 0);
    QVERIFY(qAbs(none.now().secsTo(QDateTime::currentDateTime())) <= 1);
}

void TstQtPlatform::volumeControlFallsBackToTheDesktops() {
    // Each stand-in records how it was started; the first one found on PATH must win.
    QTemporaryDir dir;
    const QString out = dir.filePath("started");
    const auto install = [&](const QString &name) {
        QDir().mkpath(dir.filePath(name + ".d"));
        QFile script(dir.filePath(name + ".d/" + name));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho \"$0 $@\" > '%1.tmp' && /bin/mv '%1.tmp' '%1'\n")
                         .arg(out).toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    const QStringList names = {"pavucontrol", "pavucontrol-qt", "gnome-control-center", "kcmshell6", "kcmshell5"};
    for (const QString &name : names)
        install(name);
    const QByteArray oldPath = qgetenv("PATH");
    const QByteArray oldDesktop = qgetenv("XDG_CURRENT_DESKTOP");
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    QtPlatform p;
    const auto startedWith = [&](const QStringList &present) {
        QFile::remove(out);
        QByteArray path;
        for (const QString &name : present)
            path += QFile::encodeName(dir.filePath(name + ".d")) + ':';
        qputenv("PATH", path + "/nonexistent");
        p.openVolumeControl(nullptr);
        qputenv("PATH", oldPath);
        // The mixer runs by itself; wait for the stand-in to say how it was started.
        if (!QTest::qWaitFor([&] { return QFile::exists(out); }, 10000))
            return QString("(nothing started)");
        QFile f(out);
        f.open(QIODevice::ReadOnly);
        return QFileInfo(QString::fromUtf8(f.readAll().trimmed())).fileName();
    };
    QCOMPARE(startedWith(names), QString("pavucontrol --tab=4"));
    QCOMPARE(startedWith(names.mid(1)), QString("pavucontrol-qt"));
    QCOMPARE(startedWith(names.mid(2)), QString("gnome-control-center sound"));
    qputenv("XDG_CURRENT_DESKTOP", "KDE");  // the running desktop's settings first
    QCOMPARE(startedWith(names.mid(2)), QString("kcmshell6 kcm_pulseaudio"));
    qputenv("XDG_CURRENT_DESKTOP", oldDesktop);

    // None at all: a message names the package to install.
    QString text;
    onModal<QMessageBox>([&](QMessageBox *box) {
        text = box->text();
        box->accept();
    });
    qputenv("PATH", QFile::encodeName(dir.filePath("empty")));
    p.openVolumeControl(nullptr);
    qputenv("PATH", oldPath);
    QVERIFY2(text.contains("pavucontrol パッケージ"), qPrintable(text));
}

void TstQtPlatform::terminateFlushesAndSkipsExitHandlers() {
    int fds[2];
    QCOMPARE(pipe(fds), 0);
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        std::atexit([] { std::fputs("exit handler ran", stdout); });
        std::fputs("buffered", stdout);  // no newline: still in the stdio buffer
        QtPlatform p;
        p.terminate(7);
    }
    close(fds[1]);
    QByteArray got;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        got.append(buf, n);
    close(fds[0]);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 7);
    QCOMPARE(got, QByteArray("buffered"));
}

// Last: Qt's translations stay loaded for the rest of the run.
void TstQtPlatform::saveDialogSpeaksJapanese() {
    QVERIFY(AppSetup::installQtTranslations());
    QTemporaryDir dir;
    QtPlatform p;
    SaveDialogState state;
    state.initialDir = dir.path();
    QStringList texts;
    onModal<QFileDialog>([&](QFileDialog *fd) {
        for (const char *name : {"lookInLabel", "fileNameLabel", "fileTypeLabel"})
            if (auto *label = fd->findChild<QLabel *>(name))
                texts << label->text();
        for (QPushButton *b : fd->findChildren<QPushButton *>())
            if (b->isVisible())
                texts << b->text();
        fd->reject();
    });
    QVERIFY(!p.runSaveDialog(nullptr, state));
    QVERIFY(texts.size() >= 5);
    for (const QString &text : texts) {
        QVERIFY2(!text.contains(QRegularExpression("[A-Za-z]{3}")), qPrintable(texts.join(" | ")));
        QVERIFY2(text.contains(QRegularExpression("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]")), qPrintable(text));
    }
}

QTEST_MAIN(TstQtPlatform)
#include "tst_qtplatform.moc"
