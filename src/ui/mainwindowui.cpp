// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "mainwindowui.h"

#include "widgets.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QResizeEvent>
#include <QTimer>

namespace {

constexpr int kToolbarHeight = 33;
constexpr int kStatusHeight = 17;

// The client area lays out its two aligned children itself: the toolbar along the top, the
// status bar along the bottom, both at full width. The status bar is stacked above the
// toolbar, so a client area only as high as the status bar shows the status bar alone.
class ClientArea : public QWidget {
public:
    explicit ClientArea(QWidget *parent)
        : QWidget(parent)
    {
    }
    QWidget *top = nullptr;
    QWidget *bottom = nullptr;

    void arrange();

protected:
    void resizeEvent(QResizeEvent *e) override
    {
        QWidget::resizeEvent(e);
        arrange();
    }
};

// The toolbar keeps its upper and lower edge lines at full width.
class ToolbarPanel : public QWidget {
public:
    explicit ToolbarPanel(QWidget *parent)
        : QWidget(parent)
    {
    }
    QWidget *topLine = nullptr;
    QWidget *bottomLine = nullptr;

    void arrange()
    {
        if (topLine)
            topLine->setGeometry(0, 0, width(), topLine->height());
        if (bottomLine)
            bottomLine->setGeometry(0, height() - bottomLine->height(), width(), bottomLine->height());
    }

protected:
    void resizeEvent(QResizeEvent *e) override
    {
        QWidget::resizeEvent(e);
        arrange();
    }
};

// Children of a window that is not shown yet get their resize events only at the show; the
// arrangement is done directly so that sizes read back right away.
void ClientArea::arrange()
{
    if (top) {
        top->setGeometry(0, 0, width(), top->height());
        if (auto *bar = dynamic_cast<ToolbarPanel *>(top))
            bar->arrange();
    }
    if (bottom)
        bottom->setGeometry(0, height() - bottom->height(), width(), bottom->height());
}

QStringList uiFamilies()
{
    return {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック"),
            QStringLiteral("Noto Sans CJK JP")};
}

QPixmap resourcePixmap(const char *path)
{
    QPixmap pm(QString::fromLatin1(path));
    Q_ASSERT_X(!pm.isNull(), "MainWindowUi", path);
    return pm;
}

TSpeedButton *makeButton(QWidget *parent, const char *name, const QRect &geometry, const QString &hint,
                         const char *glyph, int images, bool enabled)
{
    auto *b = new TSpeedButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    b->setToolTip(hint);
    b->setGlyph(resourcePixmap(glyph), images);
    b->setEnabled(enabled);
    return b;
}

TBevel *makeBevel(QWidget *parent, const char *name, TBevel::Style style, const QRect &geometry)
{
    auto *b = new TBevel(style, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    return b;
}

QAction *makeAction(QObject *parent, const char *name, const QString &caption)
{
    auto *a = new QAction(caption, parent);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

QAction *makeSeparator(QMenu *menu, const char *name)
{
    QAction *a = menu->addSeparator();
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

// The menus' style: the application's own, except that an unchecked check item shows no box
// beside it (Fusion draws an empty one), as menus on the classic desktop do.
class MenuStyle : public QProxyStyle {
public:
    MenuStyle()
        : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
    {
    }
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element == PE_IndicatorCheckBox && qobject_cast<const QMenu *>(widget) &&
            !(option->state & State_On))
            return;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

void useMenuStyle(QMenu *menu)
{
    static QPointer<QStyle> style;
    if (!style) {
        style = new MenuStyle;
        style->setParent(qApp);
    }
    menu->setStyle(style);
}

QMenu *makeMenu(QMenuBar *bar, const char *name, const QString &caption, const QFont &font)
{
    QMenu *m = bar->addMenu(caption);
    useMenuStyle(m);
    m->setObjectName(QString::fromLatin1(name));
    m->menuAction()->setObjectName(QString::fromLatin1(name));
    m->setFont(font);
    return m;
}

// Kept out of every drawn menu: a hidden QAction would lose its shortcut, while an action that
// belongs only to the window is never drawn and its key still works.
QAction *makeKeyAction(QMainWindow *window, const char *name, const QString &caption, const QKeySequence &key)
{
    QAction *a = makeAction(window, name, caption);
    a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
    window->addAction(a);
    return a;
}

struct FormatEntry {
    const char *caption;
    const char *hint;
};

const FormatEntry kFormats[14] = {
    {"11025Hz 8ビット モノラル", "11025,8,1"},
    {"11025Hz 8ビット ステレオ", "11025,8,2"},
    {"11025Hz 16ビット モノラル", "11025,16,1"},
    {"11025Hz 16ビット ステレオ", "11025,16,2"},
    {nullptr, nullptr},
    {"22050Hz 8ビット モノラル", "22050,8,1"},
    {"22050Hz 8ビット ステレオ", "22050,8,2"},
    {"22050Hz 16ビット モノラル", "22050,16,1"},
    {"22050Hz 16ビット ステレオ", "22050,16,2"},
    {nullptr, nullptr},
    {"44100Hz 8ビット モノラル", "44100,8,1"},
    {"44100Hz 8ビット ステレオ", "44100,8,2"},
    {"44100Hz 16ビット モノラル", "44100,16,1"},
    {"44100Hz 16ビット ステレオ", "44100,16,2"},
};

int menuBarHeight(const QMainWindow *window, int width)
{
    QMenuBar *bar = qobject_cast<QMenuBar *>(window->menuWidget());
    if (!bar || bar->isHidden())
        return 0;
    const int h = bar->heightForWidth(width);
    return h > 0 ? h : bar->sizeHint().height();
}

} // namespace

QFont MainWindowUi::windowFont()
{
    QFont f;
    f.setFamilies(uiFamilies());
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(12);
    f.setWeight(QFont::Normal);
    return f;
}

QFont MainWindowUi::statusFont()
{
    QFont f = windowFont();
    f.setBold(true);
    return f;
}

QIcon MainWindowUi::windowIcon()
{
    return QIcon(resourcePixmap(":/tavr/icons/mic16.xpm"));
}

QPixmap MainWindowUi::programIconImage()
{
    return resourcePixmap(":/tavr/icons/tavrin32.xpm");
}

QIcon MainWindowUi::programIcon()
{
    QIcon icon(programIconImage());
    for (int size : {48, 64, 128, 256}) {
        const QString path = QStringLiteral(":/tavr/icons/tavrin-%1.png").arg(size);
        QPixmap pm(path);
        if (!pm.isNull())
            icon.addPixmap(pm);
    }
    return icon;
}

void MainWindowUi::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("Form1"));
    window->setWindowTitle(QStringLiteral("Tavrin"));
    window->setWindowIcon(windowIcon());
    QApplication::setWindowIcon(windowIcon());
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    const QFont font = windowFont();
    window->setFont(font);

    auto *area = new ClientArea(window);
    client = area;
    client->setObjectName(QStringLiteral("client"));
    window->setCentralWidget(client);

    auto *toolbar = new ToolbarPanel(client);
    Panel1 = toolbar;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 0, 246, kToolbarHeight);

    Bevel9 = makeBevel(Panel1, "Bevel9", TBevel::Lowered, QRect(0, 0, 246, 2));
    Bevel7 = makeBevel(Panel1, "Bevel7", TBevel::Lowered, QRect(0, 31, 246, 2));
    Bevel10 = makeBevel(Panel1, "Bevel10", TBevel::Raised, QRect(2, 4, 3, 24));
    Bevel8 = makeBevel(Panel1, "Bevel8", TBevel::Lowered, QRect(62, 4, 2, 24));
    Bevel6 = makeBevel(Panel1, "Bevel6", TBevel::Lowered, QRect(172, 4, 2, 24));
    toolbar->topLine = Bevel9;
    toolbar->bottomLine = Bevel7;

    SBNew = makeButton(Panel1, "SBNew", QRect(8, 4, 25, 25), QStringLiteral("新規作成"), ":/tavr/glyphs/new.xpm", 1,
                       true);
    SBSave = makeButton(Panel1, "SBSave", QRect(33, 4, 25, 25), QStringLiteral("保存"), ":/tavr/glyphs/save.xpm", 1,
                        false);
    SBPlay = makeButton(Panel1, "SBPlay", QRect(68, 4, 25, 25), QStringLiteral("再生"), ":/tavr/glyphs/play.xpm", 2,
                        false);
    SBPause = makeButton(Panel1, "SBPause", QRect(93, 4, 25, 25), QStringLiteral("一時停止"),
                         ":/tavr/glyphs/pause.xpm", 2, false);
    SBStop = makeButton(Panel1, "SBStop", QRect(118, 4, 25, 25), QStringLiteral("停止"), ":/tavr/glyphs/stop.xpm", 2,
                        false);
    SBRec = makeButton(Panel1, "SBRec", QRect(143, 4, 25, 25), QStringLiteral("録音"), ":/tavr/glyphs/rec.xpm", 2,
                       false);
    SBTimer = makeButton(Panel1, "SBTimer", QRect(178, 4, 65, 25), QStringLiteral("タイマー"),
                         ":/tavr/glyphs/timer.xpm", 2, true);
    SBTimer->setCheckable(true);
    SBTimer->setText(QStringLiteral("00:00:00"));

    Panel2 = new TStatusPanel(client);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFont(statusFont());
    Panel2->setGeometry(0, 172 - kStatusHeight, 246, kStatusHeight);
    Panel2->setCaption(QStringLiteral("00:00:00/00:00:00"));
    Panel2->raise();

    Label1 = new TStatusLabel(Panel2);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(2, 3, 1, 12);
    Label1->setCaption(QStringLiteral("Tavrin"));

    area->top = Panel1;
    area->bottom = Panel2;

    Timer1 = new QTimer(window);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);

    MainMenu1 = window->menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MainMenu1->setFont(font);
    MainMenu1->setNativeMenuBar(false);

    File1 = makeMenu(MainMenu1, "File1", QStringLiteral("ファイル(&F)"), font);
    MMNew = makeAction(File1, "MMNew", QStringLiteral("新規作成(&N)"));
    File1->addAction(MMNew);
    New1 = makeKeyAction(window, "New1", QStringLiteral("新規作成2"), QKeySequence(Qt::CTRL | Qt::Key_N));
    MMSave = makeAction(File1, "MMSave", QStringLiteral("保存(&S)..."));
    MMSave->setEnabled(false);
    File1->addAction(MMSave);
    N21 = makeKeyAction(window, "N21", QStringLiteral("保存2"), QKeySequence(Qt::CTRL | Qt::Key_S));
    N1 = makeSeparator(File1, "N1");
    MMExit = makeAction(File1, "MMExit", QStringLiteral("終了(&X)"));
    File1->addAction(MMExit);

    Show1 = makeMenu(MainMenu1, "Show1", QStringLiteral("設定(&S)"), font);
    MMSelect = Show1->addMenu(QStringLiteral("形式の選択(&S)"));
    MMSelect->setObjectName(QStringLiteral("MMSelect"));
    MMSelect->menuAction()->setObjectName(QStringLiteral("MMSelect"));
    MMSelect->setFont(font);
    useMenuStyle(MMSelect);
    formatGroup = new QActionGroup(MMSelect);
    formatGroup->setObjectName(QStringLiteral("formatGroup"));
    formatGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    SS.clear();
    for (int tag = 0; tag < 14; ++tag) {
        const QByteArray name = "SS" + QByteArray::number(tag);
        QAction *a;
        if (!kFormats[tag].caption) {
            a = makeSeparator(MMSelect, name.constData());
        } else {
            a = makeAction(MMSelect, name.constData(), QString::fromUtf8(kFormats[tag].caption));
            a->setStatusTip(QString::fromLatin1(kFormats[tag].hint));
            a->setCheckable(true);
            formatGroup->addAction(a);
            MMSelect->addAction(a);
        }
        a->setData(tag);
        SS.append(a);
    }
    SS.at(13)->setChecked(true);

    Bar02 = makeSeparator(Show1, "Bar02");
    MMTimer = makeAction(Show1, "MMTimer", QStringLiteral("タイマーをON(&T)"));
    MMTimer->setCheckable(true);
    Show1->addAction(MMTimer);
    MMTimerSet = makeAction(Show1, "MMTimerSet", QStringLiteral("タイマーの設定(&E)..."));
    Show1->addAction(MMTimerSet);
    MMTimerAutoSave = makeAction(Show1, "MMTimerAutoSave", QStringLiteral("タイマー後自動保存(&A)"));
    MMTimerAutoSave->setCheckable(true);
    Show1->addAction(MMTimerAutoSave);
    Bar03 = makeSeparator(Show1, "Bar03");
    MMCompactMode = makeAction(Show1, "MMCompactMode", QStringLiteral("コンパクトモード(&C)"));
    MMCompactMode->setCheckable(true);
    Show1->addAction(MMCompactMode);
    MMStayOnTop = makeAction(Show1, "MMStayOnTop", QStringLiteral("常に手前に表示(&Y)"));
    MMStayOnTop->setCheckable(true);
    Show1->addAction(MMStayOnTop);
    Bar04 = makeSeparator(Show1, "Bar04");
    MMVolume = makeAction(Show1, "MMVolume", QStringLiteral("音量の調節(&V)"));
    Show1->addAction(MMVolume);

    Help1 = makeMenu(MainMenu1, "Help1", QStringLiteral("ヘルプ(&H)"), font);
    Contents1 = makeAction(Help1, "Contents1", QStringLiteral("目次(&C)"));
    Help1->addAction(Contents1);
    About1 = makeAction(Help1, "About1", QStringLiteral("バージョン情報(&A)..."));
    Help1->addAction(About1);
    SSosa = makeKeyAction(window, "SSosa", QStringLiteral("ボタン操作(&B)"), QKeySequence(Qt::Key_Space));
    SPause = makeKeyAction(window, "SPause", QStringLiteral("一時停止(&P)"), QKeySequence(Qt::CTRL | Qt::Key_Space));
    SBack = makeKeyAction(window, "SBack", QStringLiteral("巻き戻し(&R)"), QKeySequence(Qt::CTRL | Qt::Key_Left));
    SSkip = makeKeyAction(window, "SSkip", QStringLiteral("早送り(&S)"), QKeySequence(Qt::CTRL | Qt::Key_Right));

    Sosa1 = makeAction(MainMenu1, "Sosa1", QStringLiteral("操作(&C)"));
    MainMenu1->addAction(Sosa1);
    Sosa1->setVisible(false);

    setClientSize(window, 246, 172);
}

void MainWindowUi::setClientSize(QMainWindow *window, int width, int height)
{
    const QPoint corner = window->pos();
    const int menuHeight = menuBarHeight(window, width);
    window->setFixedSize(width, menuHeight + height);
    if (QLayout *layout = window->layout()) {
        // Lay the children out now rather than at the next show, so sizes read back at once.
        layout->invalidate();
        layout->activate();
    }
    if (QWidget *c = window->centralWidget()) {
        if (c->size() != QSize(width, height))
            c->setGeometry(0, menuHeight, width, height);
        if (auto *area = dynamic_cast<ClientArea *>(c))
            area->arrange();
    }
    if (window->pos() != corner)
        window->move(corner);
}

int MainWindowUi::clientWidth(const QMainWindow *window)
{
    return window->centralWidget() ? window->centralWidget()->width() : window->width();
}

int MainWindowUi::clientHeight(const QMainWindow *window)
{
    return window->centralWidget() ? window->centralWidget()->height()
                                   : window->height() - menuBarHeight(window, window->width());
}
