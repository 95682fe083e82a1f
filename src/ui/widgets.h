// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The small widgets of the main window: flat speed buttons with bitmap glyphs, bevel lines,
// and the black status bar with its label.
#pragma once

#include <QAbstractButton>
#include <QFrame>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRawFont>
#include <QVarLengthArray>

// Gives the speed buttons and the status bar their names and texts for screen readers.
void installAccessibleWidgets();

// A flat button: no frame until the pointer is over it, raised under the pointer, sunken while
// pressed or latched down. Never takes the focus. Left clicks click (and toggle when checkable);
// every press and release, of any button, is also reported.
class TSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget *parent = nullptr);
    // A strip of 16x16 images; the first is drawn while enabled, the second (if any) while
    // disabled. The bottom-left pixel's colour is transparent.
    void setGlyph(const QPixmap &strip, int imageCount);
    QSize sizeHint() const override;
    // The font of the caption: the window's, closed up or smaller where it would not fit.
    QFont captionFont() const;

signals:
    void mousePressed(Qt::MouseButton button);
    void mouseReleased(Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent *) override;
    void mousePressEvent(QMouseEvent *) override;
    void mouseReleaseEvent(QMouseEvent *) override;
    void enterEvent(QEnterEvent *) override;
    void leaveEvent(QEvent *) override;
    bool event(QEvent *) override;

private:
    QPixmap m_enabled;
    QPixmap m_disabled;
    bool m_hover = false;
};

class TBevel : public QWidget {
    Q_OBJECT
public:
    enum Style { Lowered, Raised };
    TBevel(Style style, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    Style m_style;
};

// The status bar: black, a lowered one-pixel edge, its caption right-aligned in white bold.
class TStatusPanel : public QFrame {
    Q_OBJECT
public:
    explicit TStatusPanel(QWidget *parent = nullptr);
    QString caption() const { return m_caption; }
    void setCaption(const QString &text);

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *) override;
    void mouseDoubleClickEvent(QMouseEvent *) override;
    void changeEvent(QEvent *) override;

private:
    QRect captionRect() const;
    using Glyphs = QVarLengthArray<quint32, 24>;
    using Edges = QVarLengthArray<qreal, 25>;
    // A caption's glyphs right-aligned in captionRect, with each one's left edge and then the
    // right end of the last; not ok for a caption with other characters than the time's, or
    // a font that lacks one of them.
    struct Line {
        QString text;
        int right = 0;
        bool ok = false;
        Glyphs glyphs;
        Edges left;
    };
    // The current caption's line, laid out again only when the caption, the width or the font
    // changed.
    const Line &line();
    void loadGlyphs();
    // Where the old line and the new one differ.
    QRegion changedArea(const Line &old, const Line &now) const;
    // One glyph as painted on the black panel at a fraction of a pixel (in 64ths): its inked
    // pixels and where they lie from the glyph's whole-pixel origin on the caption's top.
    struct Tile {
        QImage image;
        QPoint offset;
    };
    // None where tiles do not apply: a panel not black, or a fractional pixel ratio.
    const Tile *tile(quint32 glyph, int fraction64);

    QString m_caption;
    // The glyphs of the time's characters in the caption font, looked up once: drawing them
    // needs no text layout and no shaping, which cost more than the rest of the paint.
    QFont m_glyphFont;
    QRawFont m_rawFont;
    QList<quint32> m_glyphs;
    QList<qreal> m_advances;
    qreal m_lineHeight = 0;
    qreal m_ascent = 0;
    Line m_line;
    // The glyphs already painted, for the font, height, colours and pixel ratio they were
    // painted with: a tick adds two small images to the panel instead of blending glyphs.
    QHash<quint64, Tile> m_tiles;
    qreal m_tileRatio = 0;
    int m_tileHeight = 0;
};

// The status text at the status bar's left end; its width follows its text.
class TStatusLabel : public QLabel {
    Q_OBJECT
public:
    explicit TStatusLabel(QWidget *parent = nullptr);
    QString caption() const { return text(); }
    void setCaption(const QString &text);

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent *) override;
};
