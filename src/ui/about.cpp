// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "about.h"

#include "mainwindowui.h"
#include "widgets.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

namespace {

// The classic dotted focus rectangle. The styles draw focus only after a key press, and a
// read-only line draws no caret at all, so the About box draws its own.
void drawFocusMark(QWidget *w, const QRect &r)
{
    QPainter p(w);
    QPen pen(w->palette().color(QPalette::WindowText));
    pen.setStyle(Qt::DotLine);
    pen.setWidth(1);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

// The OK button is also the default button, which Fusion already outlines: focus needs a mark
// of its own.
class FocusMarkedButton : public QPushButton {
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *e) override
    {
        QPushButton::paintEvent(e);
        if (hasFocus())
            drawFocusMark(this, rect().adjusted(4, 4, -4, -4));
    }
};

} // namespace

TAddressLine::TAddressLine(const QString &text, QWidget *parent)
    : QLineEdit(text, parent)
{
    setReadOnly(true);
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    // The line is only 12 pixels high: the edit's own vertical margin would clip the
    // descenders, so the text is given the whole height.
    setTextMargins(0, -2, 0, -1);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    setPalette(pal);
    setCursorPosition(0);
}

void TAddressLine::paintEvent(QPaintEvent *e)
{
    QLineEdit::paintEvent(e);
    if (hasFocus())
        drawFocusMark(this, QRect(0, 0, qMin(width(), fontMetrics().horizontalAdvance(text()) + 3), height()));
}

void TAddressLine::focusInEvent(QFocusEvent *e)
{
    // Tabbing into a line edit selects all of it; here the text stays unselected.
    const bool hadSelection = hasSelectedText();
    QLineEdit::focusInEvent(e);
    if (!hadSelection && hasSelectedText())
        deselect();
}

TAboutBox::TAboutBox(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(MainWindowUi::windowFont());
    setFixedSize(322, 108);
    setSizeGripEnabled(false);

    ProgramIcon = new QLabel(this);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setAccessibleName(QStringLiteral("Tavrin のアイコン"));
    ProgramIcon->setGeometry(8, 8, 32, 32);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(MainWindowUi::programIconImage());

    ProductName = new QLabel(QStringLiteral("Tavrin Ver2.18"), this);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont bold = font();
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->setGeometry(48, 16, ProductName->fontMetrics().horizontalAdvance(ProductName->text()), 12);

    Copyright = new QLabel(QStringLiteral("Copyright (C) 2026 Tavrin Project"), this);
    Copyright->setObjectName(QStringLiteral("Copyright"));
    Copyright->setGeometry(48, 32, Copyright->fontMetrics().horizontalAdvance(Copyright->text()), 12);

    OKButton = new FocusMarkedButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(248, 12, 66, 25);
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });

    Bevel1 = new TBevel(TBevel::Lowered, this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setGeometry(0, 48, 321, 2);

    HomePage = new TAddressLine(QStringLiteral("https://tavrin.example.org/"), this);
    HomePage->setObjectName(QStringLiteral("HomePage"));
    HomePage->setAccessibleName(QStringLiteral("ホームページ"));
    HomePage->setGeometry(48, 56, 265, 12);

    EMail = new TAddressLine(QStringLiteral("support@tavrin.example.org"), this);
    EMail->setObjectName(QStringLiteral("EMail"));
    EMail->setAccessibleName(QStringLiteral("電子メール"));
    EMail->setGeometry(48, 72, 265, 12);

    Panel1 = new TBevel(TBevel::Lowered, this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, 90, 322, 18);

    setTabOrder(HomePage, EMail);
    setTabOrder(EMail, OKButton);
    HomePage->setFocus();
}

int TAboutBox::showModalBox()
{
    return exec();
}

void TAboutBox::setVisible(bool visible)
{
    if (visible && !m_placed) {
        m_placed = true;
        QWidget *active = QApplication::activeWindow();
        if (!active)
            active = parentWidget() ? parentWidget()->window() : nullptr;
        QScreen *screen = active ? active->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->geometry();
            // Before its first showing the box has no frame yet; the active window's frame,
            // drawn by the same window manager, is the best guess of what it will get.
            QSize frame = frameGeometry().size();
            if (frame == size() && active && active->isWindow())
                frame += active->frameGeometry().size() - active->geometry().size();
            const int x = qMax(area.left(), area.left() + (area.width() - frame.width()) / 2);
            const int y = qMax(area.top(), area.top() + (area.height() - frame.height()) / 2);
            move(x, y);
        }
    }
    QDialog::setVisible(visible);
}

void TAboutBox::reject()
{
    // Only the title bar's close button and the window menu get here (Escape is kept out).
    done(2);
}

void TAboutBox::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}
