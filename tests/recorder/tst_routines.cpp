// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "routines.h"

#include <QDateTime>
#include <QTest>

class TestRoutines : public QObject {
    Q_OBJECT
private slots:
    void commaField_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("field");
        QTest::newRow("first") << "44100,16,2" << 1 << "44100";
        QTest::newRow("last") << "44100,16,2" << 3 << "2";
        QTest::newRow("past the end") << "44100,16,2" << 4 << "";
        QTest::newRow("empty field") << "a,,c" << 2 << "";
    }
    void commaField() {
        QFETCH(QString, text);
        QFETCH(int, n);
        QFETCH(QString, field);
        QCOMPARE(CommaField(text, n), field);
    }

    void replaceText() {
        QCOMPARE(ReplaceText("44100Hz 16ビット ステレオ", "ビット", "ﾋﾞｯﾄ"), QString("44100Hz 16ﾋﾞｯﾄ ステレオ"));
        QCOMPARE(ReplaceText("abc", "x", "y"), QString("abc"));
        QCOMPARE(ReplaceText("ビットとビット", "ビット", "ﾋﾞｯﾄ"), QString("ﾋﾞｯﾄとﾋﾞｯﾄ"));
        // The replacement is not searched again.
        QCOMPARE(ReplaceText("aa", "a", "aa"), QString("aaaa"));
    }

    void formatHms_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "00:00:00";
        QTest::newRow("59") << 59 << "00:00:59";
        QTest::newRow("3599") << 3599 << "00:59:59";
        QTest::newRow("3600") << 3600 << "01:00:00";
        QTest::newRow("86399") << 86399 << "23:59:59";
        QTest::newRow("99:59:59") << 359999 << "99:59:59";
        QTest::newRow("hours not wrapped") << 360000 << "100:00:00";
    }
    void formatHms() {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(FormatHms(seconds), text);
    }

    void stopTimeEntry_data() {
        QTest::addColumn<QString>("entered");
        QTest::addColumn<QString>("stored");
        QTest::newRow("1 digit") << "5" << "00:00:05";
        QTest::newRow("2 digits") << "45" << "00:00:45";
        QTest::newRow("3 digits") << "130" << "00:01:30";
        QTest::newRow("4 digits") << "1230" << "00:12:30";
        QTest::newRow("5 digits") << "13000" << "01:30:00";
        QTest::newRow("6 digits") << "123456" << "12:34:56";
        QTest::newRow("90 never fires") << "90" << "00:00:90";
        QTest::newRow("7 digits") << "1234567" << "00:00:00";
        QTest::newRow("zero") << "0" << "00:00:00";
        QTest::newRow("six zeros") << "000000" << "00:00:00";
        QTest::newRow("eight zeros stay") << "00000000" << "00000000";
        QTest::newRow("8 digits stay") << "12345678" << "12345678";
        QTest::newRow("hh:mm:ss stays") << "01:30:00" << "01:30:00";
        QTest::newRow("sign kept") << "-5" << "00:00:-5";
        QTest::newRow("hex kept as typed") << "$A" << "00:00:$A";
        QTest::newRow("blank kept") << " 5" << "00:00: 5";
        QTest::newRow("empty") << "" << "00:00:00";
        QTest::newRow("words") << "abc" << "00:00:00";
        // Four full-width characters are eight bytes long.
        QTest::newRow("double-byte 8") << "１２３４" << "１２３４";
        QTest::newRow("double-byte 7") << "１２３a" << "00:00:00";
    }
    void stopTimeEntry() {
        QFETCH(QString, entered);
        QFETCH(QString, stored);
        QCOMPARE(NormaliseStopTime(entered), stored);
    }

    void errorDisplayText() {
        QCOMPARE(ErrorDisplayText("MCI デバイスがありません"), QString("MCI デバイスがありません."));
        QCOMPARE(ErrorDisplayText("done."), QString("done."));
        QCOMPARE(ErrorDisplayText("Stop!"), QString("Stop!"));
        QCOMPARE(ErrorDisplayText("path a/b"), QString("path a/b."));
        QCOMPARE(ErrorDisplayText(""), QString(""));
    }

    void folders() {
        QCOMPARE(DropTrailingSeparator("/home/u/"), QString("/home/u"));
        QCOMPARE(DropTrailingSeparator("/home/u"), QString("/home/u"));
        QCOMPARE(DropTrailingSeparator("/"), QString("/"));
        QCOMPARE(DropTrailingSeparator("/a//"), QString("/a/"));
    }

    void timeStampedName() {
        QCOMPARE(TimeStampedName(QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9))), QString("1207140509.wav"));
        QCOMPARE(TimeStampedName(QDateTime(QDate(2027, 1, 2), QTime(3, 4, 5))), QString("0102030405.wav"));
    }
};

QTEST_APPLESS_MAIN(TestRoutines)
#include "tst_routines.moc"
