// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The main window's controls, menus and key bindings, built onto a QMainWindow the way a
// Designer form is. Every widget, action and the timer carries its component name as its
// object name, so tests find them with findChild.
#pragma once

#include <QFont>
#include <QIcon>
#include <QList>

class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class QMenuBar;
class QTimer;
class QWidget;
class QPixmap;
class TSpeedButton;
class TBevel;
class TStatusPanel;
class TStatusLabel;

struct MainWindowUi {
    // The client area below the menu bar; Panel1 and Panel2 are its children.
    QWidget *client = nullptr;

    QWidget *Panel1 = nullptr;  // toolbar, 33 high, top-aligned
    TSpeedButton *SBNew = nullptr;
    TSpeedButton *SBSave = nullptr;
    TSpeedButton *SBPlay = nullptr;
    TSpeedButton *SBPause = nullptr;
    TSpeedButton *SBStop = nullptr;
    TSpeedButton *SBRec = nullptr;
    // Latching: isChecked() is its Down state. A left click toggles it before clicked() fires,
    // so a click handler already sees the new state. A right press or release only reports
    // mousePressed/mouseReleased and never toggles or clicks.
    TSpeedButton *SBTimer = nullptr;
    TBevel *Bevel6 = nullptr;
    TBevel *Bevel7 = nullptr;
    TBevel *Bevel8 = nullptr;
    TBevel *Bevel9 = nullptr;
    TBevel *Bevel10 = nullptr;

    TStatusPanel *Panel2 = nullptr;  // status bar, 17 high, bottom-aligned; drawn above Panel1
    TStatusLabel *Label1 = nullptr;

    QTimer *Timer1 = nullptr;  // 500 ms, stopped

    QMenuBar *MainMenu1 = nullptr;
    QMenu *File1 = nullptr;
    QAction *MMNew = nullptr;
    QAction *New1 = nullptr;  // hidden, Ctrl+N
    QAction *MMSave = nullptr;
    QAction *N21 = nullptr;   // hidden, Ctrl+S
    QAction *N1 = nullptr;    // separator
    QAction *MMExit = nullptr;

    QMenu *Show1 = nullptr;
    QMenu *MMSelect = nullptr;
    QActionGroup *formatGroup = nullptr;
    // SS0..SS13 in menu order; SS4 and SS9 are separators. SS[n]->data() is its Tag (n), and
    // an entry's format, "rate,bits,channels", is its statusTip(). The twelve entries form the
    // exclusive formatGroup: by the time an entry's triggered() fires, Qt has already moved the
    // check to it, so a handler that wants to undo the choice must put the check back itself.
    QList<QAction *> SS;
    QAction *Bar02 = nullptr;
    // MMTimer, MMTimerAutoSave, MMCompactMode and MMStayOnTop are checkable and nothing here
    // connects to them. A click (or trigger()) toggles the check first and then emits
    // triggered(checked): inside a triggered handler isChecked() already holds the NEW state,
    // and the state before the click is !isChecked(). setChecked() emits no triggered().
    QAction *MMTimer = nullptr;
    QAction *MMTimerSet = nullptr;
    QAction *MMTimerAutoSave = nullptr;
    QAction *Bar03 = nullptr;
    QAction *MMCompactMode = nullptr;
    QAction *MMStayOnTop = nullptr;
    QAction *Bar04 = nullptr;
    QAction *MMVolume = nullptr;

    QMenu *Help1 = nullptr;
    QAction *Contents1 = nullptr;
    QAction *About1 = nullptr;
    QAction *SSosa = nullptr;   // hidden, Space
    QAction *SPause = nullptr;  // hidden, Ctrl+Space
    QAction *SBack = nullptr;   // hidden, Ctrl+Left
    QAction *SSkip = nullptr;   // hidden, Ctrl+Right

    QAction *Sosa1 = nullptr;  // menu-bar command without a submenu, shown in compact mode

    // Fonts and icons shared with the About box.
    static QFont windowFont();        // the Japanese UI font, 12 px
    static QFont statusFont();        // the same, bold: the status bar and its label
    static QIcon windowIcon();        // 16 x 16 microphone: the window's and the application's
    static QPixmap programIconImage(); // 32 x 32 16-colour program icon (About box)
    static QIcon programIcon();       // the program icon at every size that is drawn

    // Builds everything onto the window: caption, icon, font, fixed frame, menus, toolbar,
    // status bar, timer. Hidden items are added to the window (their shortcuts work) but to
    // no drawn menu. Connects nothing to the recorder's handlers.
    void setupUi(QMainWindow *window);

    // The client area's size; setClientSize also fixes the window's frame to fit it.
    static void setClientSize(QMainWindow *window, int width, int height);
    static int clientWidth(const QMainWindow *window);
    static int clientHeight(const QMainWindow *window);
};
