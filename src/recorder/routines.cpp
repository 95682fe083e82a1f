// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "routines.h"

#include "strconv.h"

#include <QDateTime>

QString CommaField(const QString &text, int n) {
    if (n < 1)
        return {};
    const QStringList fields = text.split(QLatin1Char(','));
    return n <= fields.size() ? fields.at(n - 1) : QString();
}

QString ReplaceText(const QString &text, const QString &pattern, const QString &replacement) {
    if (pattern.isEmpty())
        return text;
    // QString holds whole characters, so a match can never start inside a double-byte one.
    QString out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(pattern, from);
        if (at < 0)
            break;
        out += QStringView(text).mid(from, at - from);
        out += replacement;
        from = at + pattern.size();
    }
    out += QStringView(text).mid(from);
    return out;
}

QString FormatHms(qint32 seconds) {
    const qint32 m = seconds / 60;
    const qint32 h = m / 60;
    if (seconds >= 0 && h < 100) {
        // The usual case, twice a tick while recording: built in place.
        const qint32 fields[3] = {h, m - 60 * h, seconds - 60 * m};
        QChar text[8];
        for (int i = 0; i < 3; ++i) {
            text[3 * i] = QChar(u'0' + fields[i] / 10);
            text[3 * i + 1] = QChar(u'0' + fields[i] % 10);
            if (i < 2)
                text[3 * i + 2] = QLatin1Char(':');
        }
        return QString(text, 8);
    }
    const auto two = [](qint32 v) {
        // "%.2d": at least two digits; a minus sign does not count as a digit.
        QString digits = QString::number(qAbs(qint64(v)));
        if (digits.size() < 2)
            digits.prepend(QLatin1Char('0'));
        return v < 0 ? QLatin1Char('-') + digits : digits;
    };
    return two(h) + QLatin1Char(':') + two(m - 60 * h) + QLatin1Char(':') + two(seconds - 60 * m);
}

QString NormaliseStopTime(const QString &entered) {
    QString t = entered;
    qint32 value = 0;
    if (tryStrToInt(t, &value) && value != 0) {
        // A text that converts is plain ASCII, so its characters are its bytes.
        const auto c = [&t](int i) { return QString(t.at(i - 1)); };
        switch (sjisLength(t)) {
        case 1: t = QStringLiteral("00:00:0") + c(1); break;
        case 2: t = QStringLiteral("00:00:") + c(1) + c(2); break;
        case 3: t = QStringLiteral("00:0") + c(1) + ":" + c(2) + c(3); break;
        case 4: t = QStringLiteral("00:") + c(1) + c(2) + ":" + c(3) + c(4); break;
        case 5: t = QStringLiteral("0") + c(1) + ":" + c(2) + c(3) + ":" + c(4) + c(5); break;
        case 6: t = c(1) + c(2) + ":" + c(3) + c(4) + ":" + c(5) + c(6); break;
        default: break;
        }
    }
    if (sjisLength(t) != 8)
        t = QStringLiteral("00:00:00");
    return t;
}

QString ErrorDisplayText(const QString &message) {
    if (message.isEmpty())
        return message;
    // The last character taken whole, surrogate pairs included.
    qsizetype last = message.size() - 1;
    if (last > 0 && message.at(last).isLowSurrogate() && message.at(last - 1).isHighSurrogate())
        --last;
    const QByteArray bytes = toSjis(message.mid(last));
    const bool above = bytes.isEmpty() || static_cast<unsigned char>(bytes.at(0)) > '.';
    return above ? message + QLatin1Char('.') : message;
}

QString DropTrailingSeparator(const QString &dir) {
    if (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        return dir.left(dir.size() - 1);
    return dir;
}

QString TimeStampedName(const QDateTime &moment) {
    return moment.toString(QStringLiteral("MMddHHmmss")) + QStringLiteral(".wav");
}
