// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The About box: program icon, name, version, rights notice and the two addresses, which can be
// selected and copied. Created once and shown modally each time.
#pragma once

#include <QDialog>
#include <QLineEdit>

class QLabel;
class QPushButton;
class TBevel;

// A one-line edit that looks like a label: read-only, flat, on the dialog's face, and entering
// it does not select its text.
class TAddressLine : public QLineEdit {
    Q_OBJECT
public:
    explicit TAddressLine(const QString &text, QWidget *parent = nullptr);

protected:
    void focusInEvent(QFocusEvent *e) override;
    void paintEvent(QPaintEvent *e) override;
};

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget *parent = nullptr);

    // Shows the box modally and returns 1 (OK or Enter) or 2 (closed from the title bar).
    // exec() behaves the same; this is the same call under the program's own name.
    int showModalBox();

    QLabel *ProgramIcon = nullptr;
    QLabel *ProductName = nullptr;
    QLabel *Copyright = nullptr;
    QPushButton *OKButton = nullptr;
    TBevel *Bevel1 = nullptr;
    TAddressLine *HomePage = nullptr;
    TAddressLine *EMail = nullptr;
    TBevel *Panel1 = nullptr;

    void setVisible(bool visible) override;
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent *e) override;

private:
    bool m_placed = false;
};
