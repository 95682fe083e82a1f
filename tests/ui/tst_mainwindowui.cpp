// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window as built by MainWindowUi: geometry, texts, glyphs, menus and keys, read back
// from the live widgets.
#include "mainwindowui.h"
#include "widgets.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMainWindow>
#include <QScreen>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

namespace {

QStringList names(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << a->objectName();
    return out;
}

QStringList captions(const QList<QAction *> &actions)
{
    QStringList out;
    for (QAction *a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QList<QMenu *> allMenus(QMainWindow *w) { return w->findChildren<QMenu *>(); }

} // namespace

class TestMainWindowUi : public QObject {
    Q_OBJECT

private:
    QMainWindow *window = nullptr;
    MainWindowUi ui;

    void showAtSize(int w, int h)
    {
        MainWindowUi::setClientSize(window, w, h);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
    }

private slots:
    void init()
    {
        window = new QMainWindow;
        ui = MainWindowUi();
        ui.setupUi(window);
    }
    void cleanup()
    {
        delete window;
        window = nullptr;
    }

    void windowFrameTitleIconFontAndTimer()
    {
        QCOMPARE(window->windowTitle(), QStringLiteral("Tavrin"));
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(window->windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!window->windowIcon().isNull());
        QCOMPARE(window->windowIcon().availableSizes().value(0), QSize(16, 16));
        QVERIFY(!QApplication::windowIcon().isNull());
        const QImage mic = MainWindowUi::windowIcon().pixmap(16, 16).toImage();
        QCOMPARE(qAlpha(mic.pixel(0, 15)), 0);
        QCOMPARE(qAlpha(mic.pixel(15, 0)), 0); // round head, corner left open
        QCOMPARE(qAlpha(mic.pixel(11, 3)), 255);

        const QImage program = MainWindowUi::programIconImage().toImage();
        QCOMPARE(program.size(), QSize(32, 32));
        QSet<QRgb> colours;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                colours.insert(program.pixel(x, y));
        QVERIFY(colours.size() <= 16);
        const QList<QSize> sizes = MainWindowUi::programIcon().availableSizes();
        for (int side : {32, 48, 64, 128, 256})
            QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));

        const QFont f = window->font();
        QCOMPARE(f.families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
        QVERIFY(f.families().contains(QStringLiteral("IPAPGothic")));
        QCOMPARE(f.pixelSize(), 12);
        QVERIFY(!f.bold());

        QCOMPARE(ui.Timer1, window->findChild<QTimer *>(QStringLiteral("Timer1")));
        QCOMPARE(ui.Timer1->interval(), 500);
        QVERIFY(!ui.Timer1->isActive());
    }

    void clientAreaAtNormalAndCompactHeight()
    {
        window->move(120, 90);
        const QPoint corner = window->pos();
        showAtSize(245, 51);
        QCOMPARE(MainWindowUi::clientWidth(window), 245);
        QCOMPARE(MainWindowUi::clientHeight(window), 51);
        QCOMPARE(ui.client->size(), QSize(245, 51));
        QCOMPARE(window->height(), window->menuBar()->height() + 51);
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QCOMPARE(ui.Panel1->geometry(), QRect(0, 0, 245, 33));
        QCOMPARE(ui.Panel2->geometry(), QRect(0, 34, 245, 17));
        QCOMPARE(ui.Bevel9->geometry(), QRect(0, 0, 245, 2));
        QCOMPARE(ui.Bevel7->geometry(), QRect(0, 31, 245, 2));
        QCOMPARE(ui.client->childAt(5, 33), nullptr); // the row of background between the bars

        MainWindowUi::setClientSize(window, 245, 17);
        QCOMPARE(MainWindowUi::clientHeight(window), 17);
        QCOMPARE(MainWindowUi::clientWidth(window), 245);
        QCOMPARE(window->pos(), corner);
        QCOMPARE(ui.Panel2->geometry(), QRect(0, 0, 245, 17));
        // The status bar is drawn over the toolbar, so it alone is seen.
        QWidget *top = ui.client->childAt(120, 8);
        QVERIFY(top == ui.Panel2 || top == ui.Label1);

        MainWindowUi::setClientSize(window, 300, 80);
        QCOMPARE(ui.Panel1->geometry(), QRect(0, 0, 300, 33));
        QCOMPARE(ui.Panel2->geometry(), QRect(0, 63, 300, 17));
        QCOMPARE(ui.Bevel7->geometry(), QRect(0, 31, 300, 2));
        QCOMPARE(window->pos(), corner);
    }

    void clientSizeIsRightBeforeTheFirstShow()
    {
        MainWindowUi::setClientSize(window, 245, 51);
        QCOMPARE(MainWindowUi::clientHeight(window), 51);
        QCOMPARE(ui.Panel2->geometry(), QRect(0, 34, 245, 17));
    }

    void toolbarButtons_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<int>("images");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("glyph");
        QTest::newRow("SBNew") << "SBNew" << QRect(8, 4, 25, 25) << "新規作成" << 1 << true << "new";
        QTest::newRow("SBSave") << "SBSave" << QRect(33, 4, 25, 25) << "保存" << 1 << false << "save";
        QTest::newRow("SBPlay") << "SBPlay" << QRect(68, 4, 25, 25) << "再生" << 2 << false << "play";
        QTest::newRow("SBPause") << "SBPause" << QRect(93, 4, 25, 25) << "一時停止" << 2 << false << "pause";
        QTest::newRow("SBStop") << "SBStop" << QRect(118, 4, 25, 25) << "停止" << 2 << false << "stop";
        QTest::newRow("SBRec") << "SBRec" << QRect(143, 4, 25, 25) << "録音" << 2 << false << "rec";
        QTest::newRow("SBTimer") << "SBTimer" << QRect(178, 4, 65, 25) << "タイマー" << 2 << true << "timer";
    }

    void toolbarButtons()
    {
        QFETCH(QString, name);
        QFETCH(QRect, rect);
        QFETCH(QString, hint);
        QFETCH(int, images);
        QFETCH(bool, enabled);
        QFETCH(QString, glyph);
        auto *b = window->findChild<TSpeedButton *>(name);
        QVERIFY(b);
        QCOMPARE(b->parentWidget(), ui.Panel1);
        QCOMPARE(b->geometry(), rect);
        QCOMPARE(b->toolTip(), hint);
        QCOMPARE(b->isEnabled(), enabled);
        QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        QVERIFY(b->testAttribute(Qt::WA_AlwaysShowToolTips));

        const QImage strip(QStringLiteral(":/tavr/glyphs/%1.xpm").arg(glyph));
        QCOMPARE(strip.size(), QSize(16 * images, 16));
        const QRgb ground = strip.pixel(0, 15);
        QCOMPARE(QColor(ground), QColor(images == 1 ? "#c0c0c0" : "#808000"));
        QSet<QRgb> colours;
        for (int y = 0; y < strip.height(); ++y)
            for (int x = 0; x < strip.width(); ++x)
                colours.insert(strip.pixel(x, y));
        QVERIFY(colours.size() <= 16);

        // Each state draws its own image, with the ground left out.
        const bool timer = name == QLatin1String("SBTimer");
        for (bool on : {true, false}) {
            b->setEnabled(on);
            const QImage shot = b->grab().toImage();
            const int gx = timer ? 0 : 5;
            const int gy = 5;
            const QImage ref = strip.copy(on || images == 1 ? 0 : 16, 0, 16, 16);
            int inked = 0;
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x) {
                    const QRgb c = ref.pixel(x, y);
                    if (c == ground)
                        continue;
                    ++inked;
                    if (on || images == 2) {
                        if (timer)
                            continue;
                        QCOMPARE(QColor(shot.pixel(gx + x, gy + y)), QColor(c));
                    }
                }
            QVERIFY(inked > 10);
            if (!on && images == 1) {
                // Derived disabled look: nothing of the original black outline is left.
                for (int y = 0; y < 16; ++y)
                    for (int x = 0; x < 16; ++x)
                        QVERIFY(QColor(shot.pixel(5 + x, 5 + y)) != QColor(Qt::black));
            }
        }
    }

    void timerButtonCaptionAndLatch()
    {
        QCOMPARE(ui.SBTimer->text(), QStringLiteral("00:00:00"));
        QVERIFY(ui.SBTimer->isCheckable());
        QVERIFY(!ui.SBTimer->isChecked());
        QVERIFY(!ui.SBNew->isCheckable());

        // Glyph and caption are centred together: the caption must end inside the button.
        const QImage shot = ui.SBTimer->grab().toImage();
        int firstDark = -1, lastDark = -1;
        for (int x = 0; x < shot.width(); ++x)
            for (int y = 2; y < shot.height() - 2; ++y)
                if (qGray(shot.pixel(x, y)) < 80) {
                    if (firstDark < 0)
                        firstDark = x;
                    lastDark = x;
                }
        QVERIFY(firstDark >= 1);
        QVERIFY(lastDark <= shot.width() - 2);
        QVERIFY(qAbs(firstDark - (shot.width() - 1 - lastDark)) <= 4);
    }

    // "00:00:00" fits its 65-pixel button beside the glyph without being narrowed.
    void timerCaptionFitsAtFullWidth()
    {
        for (const QString &caption : {QStringLiteral("00:00:00"), QStringLiteral("99:59:59")}) {
            ui.SBTimer->setText(caption);
            const QFont f = ui.SBTimer->captionFont();
            QVERIFY(f.stretch() == 0 || f.stretch() == 100);
            QVERIFY(QFontMetrics(f).horizontalAdvance(caption) <= 65 - 2 - 16 - 4);
            QVERIFY(f.pixelSize() >= 10);
        }
    }

    // Fusion draws an empty box beside an unchecked check item; the menu draws nothing there.
    void uncheckedMenuItemsShowNoBox()
    {
        const QImage shot = ui.Show1->grab().toImage();
        const QRect plain = ui.Show1->actionGeometry(ui.MMTimerSet);
        for (QAction *a : {ui.MMTimer, ui.MMTimerAutoSave, ui.MMCompactMode, ui.MMStayOnTop}) {
            const QRect row = ui.Show1->actionGeometry(a);
            // The strip left of the caption, as wide as the caption's indent.
            const int indent = qMin(row.height() + 4, row.width() / 4);
            QCOMPARE(shot.copy(row.x(), row.y(), indent, row.height()),
                     shot.copy(plain.x(), plain.y(), indent, plain.height()));
        }
        ui.MMTimer->setChecked(true);
        const QImage checked = ui.Show1->grab().toImage();
        const QRect row = ui.Show1->actionGeometry(ui.MMTimer);
        const int indent = qMin(row.height() + 4, row.width() / 4);
        QVERIFY(checked.copy(row.x(), row.y(), indent, row.height()) !=
                checked.copy(plain.x(), plain.y(), indent, plain.height()));
    }

    void flatButtonFrames()
    {
        const QColor shadow = ui.SBNew->palette().color(QPalette::Dark);
        const QColor light = ui.SBNew->palette().color(QPalette::Light);
        QImage plain = ui.SBNew->grab().toImage();
        QVERIFY(QColor(plain.pixel(0, 0)).name() != shadow.name());
        QVERIFY(QColor(plain.pixel(24, 24)).name() != shadow.name());

        QEnterEvent enter(QPointF(3, 3), QPointF(3, 3), QPointF(3, 3));
        QApplication::sendEvent(ui.SBNew, &enter);
        const QImage raised = ui.SBNew->grab().toImage();
        QCOMPARE(QColor(raised.pixel(0, 5)).name(), light.name());
        QCOMPARE(QColor(raised.pixel(24, 5)).name(), shadow.name());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(ui.SBNew, &leave);

        ui.SBTimer->setChecked(true);
        const QImage down = ui.SBTimer->grab().toImage();
        QCOMPARE(QColor(down.pixel(0, 5)).name(), shadow.name());
        QCOMPARE(QColor(down.pixel(64, 5)).name(), light.name());
    }

    void bevels()
    {
        struct B {
            TBevel *bevel;
            QRect rect;
        };
        const QList<B> table = {{ui.Bevel10, QRect(2, 4, 3, 24)},
                                {ui.Bevel8, QRect(62, 4, 2, 24)},
                                {ui.Bevel6, QRect(172, 4, 2, 24)}};
        for (const B &b : table)
            QCOMPARE(b.bevel->geometry(), b.rect);
        const QColor shadow = ui.Bevel8->palette().color(QPalette::Dark);
        const QColor light = ui.Bevel8->palette().color(QPalette::Light);

        const QImage etched = ui.Bevel8->grab().toImage();
        QCOMPARE(QColor(etched.pixel(0, 10)).name(), shadow.name());
        QCOMPARE(QColor(etched.pixel(1, 10)).name(), light.name());
        const QImage line = ui.Bevel9->grab().toImage();
        QCOMPARE(QColor(line.pixel(50, 0)).name(), shadow.name());
        QCOMPARE(QColor(line.pixel(50, 1)).name(), light.name());

        // The raised grip: light left, dark right, and the middle left alone.
        QImage grip(3, 24, QImage::Format_ARGB32);
        grip.fill(Qt::transparent);
        ui.Bevel10->render(&grip, QPoint(), QRegion(), QWidget::DrawChildren);
        QCOMPARE(QColor(grip.pixel(0, 10)).name(), light.name());
        QCOMPARE(QColor(grip.pixel(2, 10)).name(), shadow.name());
        QCOMPARE(qAlpha(grip.pixel(1, 10)), 0);
    }

    void statusBar()
    {
        showAtSize(245, 51);
        QCOMPARE(ui.Panel2->caption(), QStringLiteral("00:00:00/00:00:00"));
        QCOMPARE(ui.Label1->caption(), QStringLiteral("Tavrin"));
        QCOMPARE(ui.Label1->parentWidget(), ui.Panel2);
        QCOMPARE(ui.Label1->pos(), QPoint(2, 3));
        QCOMPARE(ui.Label1->height(), 12);
        QCOMPARE(ui.Label1->width(), ui.Label1->fontMetrics().horizontalAdvance(QStringLiteral("Tavrin")));
        ui.Label1->setCaption(QStringLiteral("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ"));
        QCOMPARE(ui.Label1->width(),
                 ui.Label1->fontMetrics().horizontalAdvance(QStringLiteral("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ")));

        for (QWidget *w : {static_cast<QWidget *>(ui.Panel2), static_cast<QWidget *>(ui.Label1)}) {
            QVERIFY(w->font().bold());
            QCOMPARE(w->font().pixelSize(), 12);
            QCOMPARE(w->font().families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
            QCOMPARE(w->palette().color(QPalette::WindowText), QColor(Qt::white));
        }

        const QImage shot = ui.Panel2->grab().toImage();
        QCOMPARE(QColor(shot.pixel(0, 0)).name(), window->palette().color(QPalette::Dark).name());
        QCOMPARE(QColor(shot.pixel(244, 16)).name(), window->palette().color(QPalette::Light).name());
        QCOMPARE(QColor(shot.pixel(120, 1)), QColor(Qt::black));
        // Right-justified white text: white near the right edge, none in the middle.
        int whiteRight = 0;
        for (int x = 200; x < 243; ++x)
            for (int y = 1; y < 16; ++y)
                whiteRight += qGray(shot.pixel(x, y)) > 200;
        QVERIFY(whiteRight > 20);
        for (int y = 1; y < 16; ++y)
            QVERIFY(qGray(shot.pixel(125, y)) < 60);
    }

    // The time repaints only its changed digits: what the window shows must still be what
    // a whole paint of the caption gives.
    void timeRepaintsLeaveAWholePaint()
    {
        showAtSize(245, 51);
        for (const char *time : {"00:00:01/00:00:01", "00:00:09/00:00:09", "00:00:10/00:00:10",
                                 "00:59:59/00:59:59", "01:00:00/01:00:00", "01:00:00/02:00:00",
                                 "00:00:00/00:00:00"}) {
            ui.Panel2->setCaption(QString::fromLatin1(time));
            const QRect at(ui.Panel2->mapTo(window, QPoint(0, 0)), ui.Panel2->size());
            const QImage shown = window->screen()->grabWindow(window->winId()).toImage().copy(at);
            QCOMPARE(shown.convertToFormat(QImage::Format_RGB32),
                     ui.Panel2->grab().toImage().convertToFormat(QImage::Format_RGB32));
        }
    }

    void doubleClicks()
    {
        showAtSize(245, 51);
        QSignalSpy label(ui.Label1, &TStatusLabel::doubleClicked);
        QSignalSpy panel(ui.Panel2, &TStatusPanel::doubleClicked);
        QTest::mouseDClick(ui.Label1, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(label.count(), 1);
        QCOMPARE(panel.count(), 0);
        QTest::mouseDClick(ui.Panel2, Qt::LeftButton, {}, QPoint(200, 8));
        QCOMPARE(label.count(), 1);
        QCOMPARE(panel.count(), 1);
    }

    void rightButtonOnTimerOnlyReports()
    {
        showAtSize(245, 51);
        QSignalSpy clicked(ui.SBTimer, &QAbstractButton::clicked);
        QSignalSpy pressed(ui.SBTimer, &TSpeedButton::mousePressed);
        QSignalSpy released(ui.SBTimer, &TSpeedButton::mouseReleased);
        QTest::mousePress(ui.SBTimer, Qt::RightButton, {}, QPoint(10, 10));
        QTest::mouseRelease(ui.SBTimer, Qt::RightButton, {}, QPoint(10, 10));
        QVERIFY(!ui.SBTimer->isChecked());
        QCOMPARE(clicked.count(), 0);
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(pressed.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);
        QCOMPARE(released.count(), 1);
        QCOMPARE(released.at(0).at(0).value<Qt::MouseButton>(), Qt::RightButton);

        // A left click latches it, and the click handler sees it down already.
        bool downAtClick = false;
        connect(ui.SBTimer, &QAbstractButton::clicked, this, [&] { downAtClick = ui.SBTimer->isChecked(); });
        QTest::mouseClick(ui.SBTimer, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(ui.SBTimer->isChecked());
        QVERIFY(downAtClick);
        QCOMPARE(pressed.count(), 2);
        QCOMPARE(pressed.at(1).at(0).value<Qt::MouseButton>(), Qt::LeftButton);
        QTest::mouseClick(ui.SBTimer, Qt::LeftButton, {}, QPoint(10, 10));
        QVERIFY(!ui.SBTimer->isChecked());
        QCOMPARE(clicked.count(), 2);
    }

    void menuTree()
    {
        QCOMPARE(ui.MainMenu1, window->menuBar());
        QCOMPARE(ui.MainMenu1->objectName(), QStringLiteral("MainMenu1"));
        QCOMPARE(names(ui.MainMenu1->actions()), (QStringList{"File1", "Show1", "Help1", "Sosa1"}));
        QCOMPARE(captions(ui.MainMenu1->actions()),
                 (QStringList{"ファイル(&F)", "設定(&S)", "ヘルプ(&H)", "操作(&C)"}));
        QCOMPARE(ui.MainMenu1->actions().at(1)->menu(), ui.Show1);
        QVERIFY(!ui.Sosa1->isVisible());
        QVERIFY(!ui.Sosa1->menu());
        QVERIFY(ui.Sosa1->shortcut().isEmpty());

        QCOMPARE(names(ui.File1->actions()), (QStringList{"MMNew", "MMSave", "N1", "MMExit"}));
        QCOMPARE(captions(ui.File1->actions()), (QStringList{"新規作成(&N)", "保存(&S)...", "-", "終了(&X)"}));
        QVERIFY(!ui.MMSave->isEnabled());
        QVERIFY(ui.MMNew->isEnabled());

        QCOMPARE(names(ui.Show1->actions()),
                 (QStringList{"MMSelect", "Bar02", "MMTimer", "MMTimerSet", "MMTimerAutoSave", "Bar03",
                              "MMCompactMode", "MMStayOnTop", "Bar04", "MMVolume"}));
        QCOMPARE(captions(ui.Show1->actions()),
                 (QStringList{"形式の選択(&S)", "-", "タイマーをON(&T)", "タイマーの設定(&E)...",
                              "タイマー後自動保存(&A)", "-", "コンパクトモード(&C)", "常に手前に表示(&Y)", "-",
                              "音量の調節(&V)"}));
        QCOMPARE(ui.Show1->actions().at(0)->menu(), ui.MMSelect);
        for (QAction *a : {ui.MMTimer, ui.MMTimerAutoSave, ui.MMCompactMode, ui.MMStayOnTop}) {
            QVERIFY2(a->isCheckable(), qPrintable(a->objectName()));
            QVERIFY(!a->isChecked());
        }
        QVERIFY(!ui.MMTimerSet->isCheckable());
        QVERIFY(!ui.MMVolume->isCheckable());

        QCOMPARE(names(ui.Help1->actions()), (QStringList{"Contents1", "About1"}));
        QCOMPARE(captions(ui.Help1->actions()), (QStringList{"目次(&C)", "バージョン情報(&A)..."}));

        // No drawn item carries a shortcut, and every item is shown and (but MMSave) enabled.
        for (QMenu *m : allMenus(window))
            for (QAction *a : m->actions()) {
                QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->objectName()));
                QVERIFY(a->isVisible());
                QCOMPARE(a->isEnabled(), a != ui.MMSave);
            }
    }

    void checkableMenuItemsToggleBeforeTriggered()
    {
        bool stateAtTrigger = false;
        connect(ui.MMCompactMode, &QAction::triggered, this, [&] { stateAtTrigger = ui.MMCompactMode->isChecked(); });
        ui.MMCompactMode->trigger();
        QVERIFY(stateAtTrigger);
        ui.MMCompactMode->trigger();
        QVERIFY(!stateAtTrigger);
    }

    void hiddenItemsAreKeysOnly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QKeySequence>("key");
        QTest::newRow("New1") << "New1" << "新規作成2" << QKeySequence(Qt::CTRL | Qt::Key_N);
        QTest::newRow("N21") << "N21" << "保存2" << QKeySequence(Qt::CTRL | Qt::Key_S);
        QTest::newRow("SSosa") << "SSosa" << "ボタン操作(&B)" << QKeySequence(Qt::Key_Space);
        QTest::newRow("SPause") << "SPause" << "一時停止(&P)" << QKeySequence(Qt::CTRL | Qt::Key_Space);
        QTest::newRow("SBack") << "SBack" << "巻き戻し(&R)" << QKeySequence(Qt::CTRL | Qt::Key_Left);
        QTest::newRow("SSkip") << "SSkip" << "早送り(&S)" << QKeySequence(Qt::CTRL | Qt::Key_Right);
    }

    void hiddenItemsAreKeysOnly()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QKeySequence, key);
        auto *a = window->findChild<QAction *>(name);
        QVERIFY(a);
        QCOMPARE(a->text(), caption);
        QCOMPARE(a->shortcut(), key);
        QCOMPARE(a->shortcutContext(), Qt::WindowShortcut);
        QVERIFY(a->isEnabled());
        QVERIFY(a->isVisible());
        QVERIFY(window->actions().contains(a));
        for (QMenu *m : allMenus(window))
            QVERIFY2(!m->actions().contains(a), qPrintable(m->objectName()));
        QVERIFY(!ui.MainMenu1->actions().contains(a));
    }

    void shortcutsReachTheirItems_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("clientHeight");
        QTest::addColumn<bool>("focusOnButton");
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            const char *name;
        } keys[] = {{Qt::Key_N, Qt::ControlModifier, "New1"},       {Qt::Key_S, Qt::ControlModifier, "N21"},
                    {Qt::Key_Space, Qt::NoModifier, "SSosa"},        {Qt::Key_Space, Qt::ControlModifier, "SPause"},
                    {Qt::Key_Left, Qt::ControlModifier, "SBack"},    {Qt::Key_Right, Qt::ControlModifier, "SSkip"}};
        for (const auto &k : keys)
            for (int h : {51, 17})
                for (bool focus : {false, true})
                    QTest::addRow("%s h%d%s", k.name, h, focus ? " focus" : "")
                        << int(k.key) << int(k.mods) << k.name << h << focus;
    }

    void shortcutsReachTheirItems()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(QString, name);
        QFETCH(int, clientHeight);
        QFETCH(bool, focusOnButton);
        if (clientHeight == 17)
            ui.Sosa1->setVisible(true);
        showAtSize(245, clientHeight);
        // Ctrl+S must work while the visible save command is disabled.
        QVERIFY(!ui.MMSave->isEnabled());
        if (focusOnButton) {
            ui.SBTimer->setFocus(Qt::OtherFocusReason);
            QCOMPARE(QApplication::focusWidget(), ui.SBTimer);
        }
        const QList<QAction *> keyed = {ui.New1, ui.N21, ui.SSosa, ui.SPause, ui.SBack, ui.SSkip};
        QList<QSignalSpy *> spies;
        for (QAction *a : keyed)
            spies << new QSignalSpy(a, &QAction::triggered);
        QTest::keyClick(window, Qt::Key(key), Qt::KeyboardModifiers(mods));
        for (int i = 0; i < keyed.size(); ++i)
            QCOMPARE(spies.at(i)->count(), keyed.at(i)->objectName() == name ? 1 : 0);
        QVERIFY(!ui.SBTimer->isChecked()); // Space went to the item, not to the button
        qDeleteAll(spies);
    }

    void formatSubmenu()
    {
        const QStringList expected = {
            "11025Hz 8ビット モノラル",  "11025Hz 8ビット ステレオ",  "11025Hz 16ビット モノラル",
            "11025Hz 16ビット ステレオ", "-",                         "22050Hz 8ビット モノラル",
            "22050Hz 8ビット ステレオ",  "22050Hz 16ビット モノラル", "22050Hz 16ビット ステレオ",
            "-",                         "44100Hz 8ビット モノラル",  "44100Hz 8ビット ステレオ",
            "44100Hz 16ビット モノラル", "44100Hz 16ビット ステレオ"};
        const QStringList hints = {"11025,8,1", "11025,8,2", "11025,16,1", "11025,16,2", "",
                                   "22050,8,1", "22050,8,2", "22050,16,1", "22050,16,2", "",
                                   "44100,8,1", "44100,8,2", "44100,16,1", "44100,16,2"};
        const QList<QAction *> items = ui.MMSelect->actions();
        QCOMPARE(items.size(), 14);
        QCOMPARE(items, ui.SS);
        QCOMPARE(captions(items), expected);
        for (int i = 0; i < 14; ++i) {
            QAction *a = items.at(i);
            QCOMPARE(a->objectName(), QStringLiteral("SS%1").arg(i));
            QCOMPARE(a->data().toInt(), i);
            QCOMPARE(a->isSeparator(), i == 4 || i == 9);
            QCOMPARE(a->statusTip(), hints.at(i));
            QCOMPARE(a->isCheckable(), !a->isSeparator());
            QCOMPARE(a->isChecked(), i == 13);
            QCOMPARE(a->actionGroup(), a->isSeparator() ? nullptr : ui.formatGroup);
        }
        QVERIFY(ui.formatGroup->isExclusive());
        // MMSelect is reached by position: first item of the second top-level menu.
        QCOMPARE(ui.MainMenu1->actions().at(1)->menu()->actions().at(0)->menu(), ui.MMSelect);

        for (int pick : {0, 13, 13, 7, 2, 12}) {
            items.at(pick)->trigger();
            int checked = 0;
            for (QAction *a : items)
                checked += a->isChecked();
            QCOMPARE(checked, 1);
            QVERIFY(items.at(pick)->isChecked());
        }
        ui.SS.at(5)->setChecked(true);
        QVERIFY(!ui.SS.at(12)->isChecked());
    }
};

QTEST_MAIN(TestMainWindowUi)
#include "tst_mainwindowui.moc"
