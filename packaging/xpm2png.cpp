// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Build-time helper: writes one of the program's XPM drawings as a PNG for the icon theme.
#include <QCoreApplication>
#include <QImage>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: %s INPUT.xpm OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QImage image(args[1], "XPM");
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(args[1]));
        return 1;
    }
    if (!image.convertToFormat(QImage::Format_ARGB32).save(args[2], "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}
