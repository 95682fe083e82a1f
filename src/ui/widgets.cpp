// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "widgets.h"

#include <QAccessibleWidget>
#include <QFontInfo>
#include <QGlyphRun>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {

QColor shadowColor(const QPalette &pal) { return pal.color(QPalette::Dark); }
QColor highlightColor(const QPalette &pal) { return pal.color(QPalette::Light); }

// A one-pixel box outline the way the classic bevel draws it: the first colour takes the left
// column and the top row (but not the top-right pixel), the second the right column and the
// bottom row (but not the bottom-left pixel).
void drawBoxOutline(QPainter &p, const QRect &r, const QColor &topLeft, const QColor &bottomRight)
{
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const int l = r.left(), t = r.top(), rr = r.right(), b = r.bottom();
    p.setPen(Qt::NoPen);
    p.fillRect(QRect(l, t, 1, r.height()), topLeft);
    if (r.width() > 1)
        p.fillRect(QRect(l, t, r.width() - 1, 1), topLeft);
    if (r.width() > 1 || r.height() > 1) {
        p.fillRect(QRect(rr, t, 1, r.height() - (r.width() == 1 ? 1 : 0)), bottomRight);
        p.fillRect(QRect(l + 1, b, r.width() - 1, 1), bottomRight);
    }
}

QImage withTransparentGround(const QImage &src)
{
    QImage img = src.convertToFormat(QImage::Format_ARGB32);
    if (img.isNull())
        return img;
    const QRgb ground = img.pixel(0, img.height() - 1);
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(line[x]) == 0 || (line[x] | 0xff000000u) == (ground | 0xff000000u))
                line[x] = 0;
    }
    return img;
}

// The greyed, embossed look of a one-image glyph: every dark pixel becomes a shadow-grey pixel
// with a highlight-white pixel below and to the right of it. Light pixels (white, silver) drop out.
QImage embossedDisabled(const QImage &glyph, const QPalette &pal)
{
    QImage out(glyph.size(), QImage::Format_ARGB32);
    out.fill(0);
    auto ink = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= glyph.width() || y >= glyph.height())
            return false;
        const QRgb c = glyph.pixel(x, y);
        return qAlpha(c) != 0 && qGray(c) < 160;
    };
    const QRgb hi = highlightColor(pal).rgb() | 0xff000000u;
    const QRgb sh = shadowColor(pal).rgb() | 0xff000000u;
    for (int y = 0; y < glyph.height(); ++y)
        for (int x = 0; x < glyph.width(); ++x) {
            if (ink(x, y))
                out.setPixel(x, y, sh);
            else if (ink(x - 1, y - 1))
                out.setPixel(x, y, hi);
        }
    return out;
}

// The stop-time caption was laid out for a font with 6-pixel digits; the Japanese fonts found
// here have wider ones. Rather than clip or squeeze the caption, close up the letters by a
// pixel and, if that is not enough, take a smaller size: the digits keep their own shapes.
QFont fittedCaptionFont(const QFont &base, const QString &caption, int room)
{
    QFont f = base;
    if (room <= 0 || QFontMetrics(f).horizontalAdvance(caption) <= room)
        return f;
    const int basePixels = base.pixelSize() > 0 ? base.pixelSize() : QFontInfo(base).pixelSize();
    for (int pixels = basePixels; pixels >= 8; --pixels) {
        f.setPixelSize(pixels);
        for (int spacing : {0, -1}) {
            f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
            if (QFontMetrics(f).horizontalAdvance(caption) <= room)
                return f;
        }
    }
    return f;
}

// What a screen reader reads of a speed button: its hint as the name (the six square ones
// have no caption), the caption (the stop time) as the description, the latch as "checked".
class SpeedButtonAccessible : public QAccessibleWidget {
public:
    explicit SpeedButtonAccessible(TSpeedButton *b)
        : QAccessibleWidget(b, QAccessible::Button)
    {
    }
    TSpeedButton *button() const { return static_cast<TSpeedButton *>(object()); }

    // A latching button is a check box to a screen reader, as Qt's own tool buttons are:
    // its state is then spoken as checked or not.
    QAccessible::Role role() const override
    {
        return button()->isCheckable() ? QAccessible::CheckBox : QAccessible::Button;
    }

    QString text(QAccessible::Text t) const override
    {
        const TSpeedButton *b = button();
        switch (t) {
        case QAccessible::Name:
            return b->accessibleName().isEmpty() ? b->toolTip() : b->accessibleName();
        case QAccessible::Description:
            return b->accessibleDescription().isEmpty() ? b->text() : b->accessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = button()->isCheckable();
        s.checked = button()->isChecked();
        // A latched button is held down: screen readers say "pressed".
        s.pressed = button()->isDown() || button()->isChecked();
        return s;
    }
    QStringList actionNames() const override
    {
        if (!button()->isEnabled())
            return {};
        return button()->isCheckable() ? QStringList{toggleAction()} : QStringList{pressAction()};
    }
    void doAction(const QString &name) override
    {
        if (button()->isEnabled() && (name == pressAction() || name == toggleAction()))
            button()->click();
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
};

// The status bar reads as its caption, the position and length; Label1 is its child.
class StatusPanelAccessible : public QAccessibleWidget {
public:
    explicit StatusPanelAccessible(TStatusPanel *p)
        : QAccessibleWidget(p, QAccessible::StatusBar)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<TStatusPanel *>(object())->caption();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *accessibleFactory(const QString &, QObject *object)
{
    if (auto *b = qobject_cast<TSpeedButton *>(object))
        return new SpeedButtonAccessible(b);
    if (auto *p = qobject_cast<TStatusPanel *>(object))
        return new StatusPanelAccessible(p);
    return nullptr;
}

} // namespace

void installAccessibleWidgets()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

TSpeedButton::TSpeedButton(QWidget *parent)
    : QAbstractButton(parent)
{
    installAccessibleWidgets();
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAttribute(Qt::WA_Hover);
}

void TSpeedButton::setGlyph(const QPixmap &strip, int imageCount)
{
    const QImage all = withTransparentGround(strip.toImage());
    const int side = all.height();
    m_enabled = QPixmap::fromImage(all.copy(0, 0, side, side));
    if (imageCount >= 2 && all.width() >= 2 * side)
        m_disabled = QPixmap::fromImage(all.copy(side, 0, side, side));
    else
        m_disabled = QPixmap::fromImage(embossedDisabled(all.copy(0, 0, side, side), palette()));
    update();
}

QFont TSpeedButton::captionFont() const
{
    const int gw = m_enabled.isNull() ? 0 : m_enabled.width();
    return fittedCaptionFont(font(), text(), width() - 2 - gw - (gw > 0 ? 4 : 0));
}

QSize TSpeedButton::sizeHint() const
{
    return QSize(25, 25);
}

void TSpeedButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect r = rect();
    const bool pressed = isDown();
    const bool latched = isChecked() && !pressed;

    // A latched button shows a dithered face, as a held-down toggle does on the classic desktop.
    if (latched) {
        QImage dither(2, 2, QImage::Format_RGB32);
        const QRgb face = palette().color(QPalette::Button).rgb();
        const QRgb light = highlightColor(palette()).rgb();
        dither.setPixel(0, 0, face);
        dither.setPixel(1, 1, face);
        dither.setPixel(1, 0, light);
        dither.setPixel(0, 1, light);
        p.fillRect(r.adjusted(1, 1, -1, -1), QBrush(dither));
    }
    if (pressed || isChecked())
        drawBoxOutline(p, r, shadowColor(palette()), highlightColor(palette()));
    else if (m_hover && isEnabled())
        drawBoxOutline(p, r, highlightColor(palette()), shadowColor(palette()));

    const int offset = (pressed || isChecked()) ? 1 : 0;
    const QPixmap &glyph = isEnabled() ? m_enabled : m_disabled;
    const int gw = glyph.isNull() ? 0 : glyph.width();
    const int gh = glyph.isNull() ? 0 : glyph.height();
    const QString caption = text();

    if (caption.isEmpty()) {
        if (!glyph.isNull())
            p.drawPixmap((r.width() - gw + 1) / 2 + offset, (r.height() - gh + 1) / 2 + offset, glyph);
        return;
    }

    // Glyph to the left of the caption, the pair centred with 4 pixels between them.
    const int spacing = gw > 0 ? 4 : 0;
    const QFont captionFont = this->captionFont();
    const QFontMetrics fm(captionFont);
    const int tw = fm.horizontalAdvance(caption);
    const int total = gw + spacing + tw;
    const int x0 = (r.width() - total + 1) / 2 + offset;
    if (!glyph.isNull())
        p.drawPixmap(x0, (r.height() - gh + 1) / 2 + offset, glyph);
    const QRect textRect(x0 + gw + spacing, (r.height() - fm.height() + 1) / 2 + offset, tw, fm.height());
    p.setFont(captionFont);
    if (isEnabled()) {
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, caption);
    } else {
        p.setPen(highlightColor(palette()));
        p.drawText(textRect.translated(1, 1), Qt::AlignLeft | Qt::AlignVCenter, caption);
        p.setPen(shadowColor(palette()));
        p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, caption);
    }
}

void TSpeedButton::mousePressEvent(QMouseEvent *e)
{
    emit mousePressed(e->button());
    if (e->button() == Qt::LeftButton)
        QAbstractButton::mousePressEvent(e);
    else
        e->accept(); // keeps the release for us; only the left button clicks or toggles
}

void TSpeedButton::mouseReleaseEvent(QMouseEvent *e)
{
    emit mouseReleased(e->button());
    if (e->button() == Qt::LeftButton)
        QAbstractButton::mouseReleaseEvent(e);
    else
        e->accept();
}

void TSpeedButton::enterEvent(QEnterEvent *e)
{
    m_hover = true;
    update();
    QAbstractButton::enterEvent(e);
}

void TSpeedButton::leaveEvent(QEvent *e)
{
    m_hover = false;
    update();
    QAbstractButton::leaveEvent(e);
}

bool TSpeedButton::event(QEvent *e)
{
    // A button disabled under the pointer gets no leave event; forget the hover so that it
    // does not come back raised when it is enabled again somewhere else.
    if (e->type() == QEvent::EnabledChange && !isEnabled())
        m_hover = false;
    return QAbstractButton::event(e);
}

TBevel::TBevel(Style style, QWidget *parent)
    : QWidget(parent)
    , m_style(style)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QColor sh = shadowColor(palette());
    const QColor hi = highlightColor(palette());
    if (m_style == Lowered)
        drawBoxOutline(p, rect(), sh, hi);
    else
        drawBoxOutline(p, rect(), hi, sh);
}

namespace {
// The characters of a time or a length: the only ones drawn from the cached glyphs.
const QString &timeChars()
{
    static const QString chars = QStringLiteral("0123456789:/-");
    return chars;
}
}  // namespace

TStatusPanel::TStatusPanel(QWidget *parent)
    : QFrame(parent)
{
    installAccessibleWidgets();
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    setAutoFillBackground(false);
    // paintEvent covers every pixel: nothing behind the panel needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

// The time changes every second while recording, usually in the last digit of each half
// only. Only the characters that changed are painted again, at once rather than from the
// next turn of the event loop, so the status text beside them (Label1, a child) and the rest
// of the window are left alone and a tick wakes the program only once.
void TStatusPanel::setCaption(const QString &text)
{
    if (text == m_caption)
        return;
    const Line old = line();
    m_caption = text;
    const QRegion area = changedArea(old, line());
    if (area.isEmpty())
        return;
    if (isVisible() && updatesEnabled())
        repaint(area);
    else
        update(area);
}

// Where the old caption and the new differ: for captions of the time's characters, the
// columns of each run of changed or moved glyphs; otherwise from the first change to the
// right end, or all of it when the change is wider or narrower. Two pixels more on each side
// for kerning and for a glyph that reaches past its advance.
QRegion TStatusPanel::changedArea(const Line &old, const Line &now) const
{
    const QRect inner = captionRect();
    const qsizetype n = now.text.size();
    if (old.ok && now.ok && old.text.size() == n) {
        QRegion area;
        // Right-aligned: a digit narrower or wider than the one before moves all on its left.
        const auto differs = [&](qsizetype i) {
            return old.glyphs.at(i) != now.glyphs.at(i) || old.left.at(i) != now.left.at(i);
        };
        for (qsizetype i = 0; i < n; ++i) {
            if (!differs(i))
                continue;
            qsizetype end = i;
            while (end + 1 < n && differs(end + 1))
                ++end;
            const qreal from = qMin(old.left.at(i), now.left.at(i));
            const qreal to = qMax(old.left.at(end + 1), now.left.at(end + 1));
            area += QRect(int(std::floor(from)) - 2, inner.top(), int(std::ceil(to - from)) + 4, inner.height()) & inner;
            i = end;
        }
        return area;
    }
    // Measured by single characters, which needs no shaping of the whole string.
    qsizetype same = 0;
    if (old.text.size() == n)
        while (same < n && old.text.at(same) == now.text.at(same))
            ++same;
    const QFontMetrics fm(font());
    const auto advance = [&fm](QStringView tail) {
        int width = 0;
        for (QChar c : tail)
            width += fm.horizontalAdvance(c);
        return width;
    };
    const int before = advance(QStringView(old.text).mid(same));
    const int after = advance(QStringView(now.text).mid(same));
    if (before != after)
        return inner;  // what is left of the change moves too
    return QRect(inner.right() - 1 - after, inner.top(), after + 2, inner.height()) & inner;
}

QRect TStatusPanel::captionRect() const
{
    return rect().adjusted(1, 1, -1, -1);
}

void TStatusPanel::paintEvent(QPaintEvent *e)
{
    QPainter p(this);
    const QRect r = rect();
    // Rectangle by rectangle: the bounding one of two changed runs spans the unchanged middle.
    for (const QRect &area : e->region())
        p.fillRect(area, palette().color(QPalette::Window));
    // The system's shadow and highlight, not the panel's own (black) palette.
    if (!captionRect().contains(e->rect())) {
        const QPalette sys = parentWidget() ? parentWidget()->palette() : QPalette();
        drawBoxOutline(p, r, shadowColor(sys), highlightColor(sys));
    }
    p.setPen(palette().color(QPalette::WindowText));
    const Line &caption = line();
    if (!caption.ok) {
        p.setFont(font());
        p.drawText(captionRect(), Qt::AlignRight | Qt::AlignVCenter, m_caption);
        return;
    }
    // Only the glyphs in the area being painted, on the line drawText would centre.
    const QRect inner = captionRect();
    const qreal baseline = inner.top() + (inner.height() - m_lineHeight) / 2 + m_ascent;
    Glyphs shown;
    QVarLengthArray<QPointF, 24> positions;
    const Edges &left = caption.left;
    for (qsizetype i = 0; i < caption.glyphs.size(); ++i) {
        const QRect cell(int(std::floor(left.at(i))) - 2, r.top(), int(std::ceil(left.at(i + 1) - left.at(i))) + 4,
                         r.height());
        if (!e->region().intersects(cell))
            continue;
        // In 64ths of a pixel: the glyph's cell and where in its first pixel it starts.
        const qint64 at64 = std::llround(left.at(i) * 64);
        if (const Tile *t = tile(caption.glyphs.at(i), int(at64 & 63))) {
            const QPoint at = QPoint(int(at64 >> 6), inner.top()) + t->offset;
            if (!t->image.isNull() && e->region().intersects(QRect(at, t->image.deviceIndependentSize().toSize())))
                p.drawImage(at, t->image);
            continue;
        }
        shown << caption.glyphs.at(i);
        positions << QPointF(left.at(i), baseline);
    }
    if (shown.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setRawData(shown.constData(), positions.constData(), int(shown.size()));
    p.drawGlyphRun(QPointF(0, 0), run);
}

const TStatusPanel::Tile *TStatusPanel::tile(quint32 glyph, int fraction64)
{
    const qreal ratio = devicePixelRatioF();
    const QRect inner = captionRect();
    // A glyph's coverage read back from black is exact only on black, and an image lands on
    // whole pixels only at a whole ratio.
    if (palette().color(QPalette::Window) != QColor(Qt::black) || ratio != std::round(ratio) || inner.isEmpty())
        return nullptr;
    if (ratio != m_tileRatio || inner.height() != m_tileHeight || m_tiles.size() > 512) {
        m_tiles.clear();
        m_tileRatio = ratio;
        m_tileHeight = inner.height();
    }
    const quint64 key = quint64(glyph) << 8 | quint64(fraction64);
    if (const auto found = m_tiles.constFind(key); found != m_tiles.cend())
        return &*found;
    // Painted on black with room on both sides for a glyph that reaches past its advance.
    const QPoint margin(8, 0);
    const QRectF bounds = m_rawFont.boundingRect(glyph);
    const QSize size(int(std::ceil(bounds.right())) + 2 * margin.x() + 1, inner.height());
    QImage black(size * ratio, QImage::Format_RGB32);
    black.setDevicePixelRatio(ratio);
    black.fill(Qt::black);
    {
        QPainter p(&black);
        p.setPen(palette().color(QPalette::WindowText));
        const QPointF position(margin.x() + fraction64 / 64.0, (inner.height() - m_lineHeight) / 2 + m_ascent);
        QGlyphRun run;
        run.setRawFont(m_rawFont);
        run.setRawData(&glyph, &position, 1);
        p.drawGlyphRun(QPointF(0, 0), run);
    }
    // Each pixel's brightest channel becomes its cover: laid over black, the image gives back
    // exactly what was painted, and over a neighbour's edge it blends as a glyph would.
    QImage cover(black.size(), QImage::Format_ARGB32_Premultiplied);
    QRect ink;
    for (int y = 0; y < black.height(); ++y) {
        const QRgb *from = reinterpret_cast<const QRgb *>(black.constScanLine(y));
        QRgb *to = reinterpret_cast<QRgb *>(cover.scanLine(y));
        for (int x = 0; x < black.width(); ++x) {
            const int r = qRed(from[x]), g = qGreen(from[x]), b = qBlue(from[x]);
            to[x] = qRgba(r, g, b, std::max({r, g, b}));
            if (to[x] != 0)
                ink |= QRect(x, y, 1, 1);
        }
    }
    // Only the inked pixels, on whole logical pixels.
    ink = QRect(QPoint(int(ink.left() / ratio), int(ink.top() / ratio)),
                QPoint(int(ink.right() / ratio), int(ink.bottom() / ratio)));
    Tile t;
    t.offset = ink.topLeft() - margin;
    if (!ink.isEmpty()) {
        t.image = cover.copy(QRect(ink.topLeft() * ratio, ink.size() * ratio));
        t.image.setDevicePixelRatio(ratio);
    }
    return &*m_tiles.insert(key, t);
}

void TStatusPanel::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::PaletteChange)
        m_tiles.clear();
    QFrame::changeEvent(e);
}

void TStatusPanel::loadGlyphs()
{
    m_glyphFont = font();
    m_rawFont = QRawFont::fromFont(m_glyphFont);
    m_tiles.clear();
    m_glyphs = m_rawFont.isValid() ? m_rawFont.glyphIndexesForString(timeChars()) : QList<quint32>();
    m_advances.clear();
    if (m_glyphs.size() != timeChars().size() || m_glyphs.contains(0u)) {
        m_glyphs.clear();
        return;
    }
    for (const QPointF &a : m_rawFont.advancesForGlyphIndexes(m_glyphs))
        m_advances << a.x();
    const QFontMetricsF fm(m_glyphFont);
    m_lineHeight = fm.height();
    m_ascent = fm.ascent();
}

const TStatusPanel::Line &TStatusPanel::line()
{
    const int right = captionRect().right() + 1;
    if (m_glyphFont != font() || !m_rawFont.isValid())
        loadGlyphs();
    else if (m_line.text == m_caption && m_line.right == right)
        return m_line;
    m_line.text = m_caption;
    m_line.right = right;
    m_line.ok = false;
    m_line.glyphs.clear();
    m_line.left.clear();
    if (m_glyphs.isEmpty() || m_caption.isEmpty())
        return m_line;
    qreal x = 0;
    for (QChar c : m_caption) {
        const qsizetype i = timeChars().indexOf(c);
        if (i < 0)
            return m_line;
        m_line.glyphs << m_glyphs.at(i);
        m_line.left << x;
        x += m_advances.at(i);
    }
    m_line.left << x;
    for (qreal &v : m_line.left)
        v += right - x;
    m_line.ok = true;
    return m_line;
}

void TStatusPanel::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (e->button() == Qt::LeftButton) {
        e->accept();
        emit doubleClicked();
        return;
    }
    QFrame::mouseDoubleClickEvent(e);
}

TStatusLabel::TStatusLabel(QWidget *parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(false);
    setMargin(0);
    setIndent(0);
}

void TStatusLabel::setCaption(const QString &text)
{
    if (text == this->text())
        return;
    setText(text);
    resize(qMax(1, fontMetrics().horizontalAdvance(text)), height());
}

void TStatusLabel::mouseDoubleClickEvent(QMouseEvent *e)
{
    // Accepted here so that the status bar under the label does not see it as its own.
    e->accept();
    if (e->button() == Qt::LeftButton)
        emit doubleClicked();
}
