// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "strconv.h"

#include <QTest>

class TstStrconv : public QObject {
    Q_OBJECT
private slots:
    void integerConversion_data();
    void integerConversion();
    void strToIntDefFallsBack();
    void sjisLengthCountsCodePageBytes_data();
    void sjisLengthCountsCodePageBytes();
    void sjisRoundTrip();
    void fromSjisReplacesBrokenBytes();
    void utf8Validation_data();
    void utf8Validation();
};

void TstStrconv::integerConversion_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");
    QTest::newRow("leading blanks") << "  12" << true << 12;
    QTest::newRow("plus") << "+7" << true << 7;
    QTest::newRow("minus") << "-5" << true << -5;
    QTest::newRow("dollar hex") << "$1F" << true << 31;
    QTest::newRow("0x lower") << "0x1f" << true << 31;
    QTest::newRow("x") << "x10" << true << 16;
    QTest::newRow("X") << "X10" << true << 16;
    QTest::newRow("0X") << "0X10" << true << 16;
    QTest::newRow("signed hex") << "-$10" << true << -16;
    QTest::newRow("blank then sign") << "  -3" << true << -3;
    QTest::newRow("leading zeros") << "000000000000012" << true << 12;
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("max") << "2147483647" << true << 2147483647;
    QTest::newRow("max+1") << "2147483648" << false << 0;
    QTest::newRow("min") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("min-1") << "-2147483649" << false << 0;
    QTest::newRow("hex max") << "$7FFFFFFF" << true << 2147483647;
    QTest::newRow("hex beyond int32") << "$80000000" << false << 0;
    QTest::newRow("hex min") << "-$80000000" << true << int(-2147483647 - 1);
    QTest::newRow("huge") << "99999999999999999999999" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blank") << " " << false << 0;
    QTest::newRow("trailing letter") << "1a" << false << 0;
    QTest::newRow("trailing blank") << "12 " << false << 0;
    QTest::newRow("double sign") << "--1" << false << 0;
    QTest::newRow("sign alone") << "-" << false << 0;
    QTest::newRow("dollar alone") << "$" << false << 0;
    QTest::newRow("0x alone") << "0x" << false << 0;
    QTest::newRow("blank after sign") << "- 1" << false << 0;
    QTest::newRow("tab is no blank") << "\t1" << false << 0;
    QTest::newRow("hex letter in decimal") << "1F" << false << 0;
    QTest::newRow("stop time") << "00:00:05" << false << 0;
    QTest::newRow("full-width digits") << QStringLiteral("１２") << false << 0;
}

void TstStrconv::integerConversion() {
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);
    qint32 out = 4242;
    QCOMPARE(tryStrToInt(text, &out), ok);
    QCOMPARE(out, ok ? value : 4242);
}

void TstStrconv::strToIntDefFallsBack() {
    QCOMPARE(strToIntDef(QStringLiteral("130"), -1), 130);
    QCOMPARE(strToIntDef(QStringLiteral("yes"), 210), 210);
    QCOMPARE(strToIntDef(QString(), 13), 13);
}

void TstStrconv::sjisLengthCountsCodePageBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("bytes");
    QTest::newRow("ascii") << "00:00:00" << 8;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("full-width") << QStringLiteral("録音中") << 6;
    QTest::newRow("full-width digits") << QStringLiteral("１２３４") << 8;
    QTest::newRow("half-width katakana") << QStringLiteral("ﾋﾞｯﾄ") << 4;
    QTest::newRow("mixed") << QStringLiteral("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ") << 19;
    QTest::newRow("outside the code page") << QStringLiteral("a€b") << 4;  // € absent from CP932
    QTest::newRow("emoji is one character") << QStringLiteral("\U0001F600") << 2;
}

void TstStrconv::sjisLengthCountsCodePageBytes() {
    QFETCH(QString, text);
    QFETCH(int, bytes);
    QCOMPARE(sjisLength(text), bytes);
}

void TstStrconv::sjisRoundTrip() {
    const QString text = QStringLiteral("停止する時間 ｽﾃﾚｵ 12:34");
    const QByteArray bytes = toSjis(text);
    QCOMPARE(bytes.left(2), QByteArray("\x92\xe2"));  // 停
    QCOMPARE(fromSjis(bytes), text);
    QCOMPARE(toSjis(QStringLiteral("a\U0001F600b")), QByteArray("a?b"));
}

void TstStrconv::fromSjisReplacesBrokenBytes() {
    // A lead byte with nothing after it, between good text.
    QCOMPARE(fromSjis(QByteArray("ab\x82")), QStringLiteral("ab\uFFFD"));
    QCOMPARE(fromSjis(QByteArray("\xA0z")).right(1), QStringLiteral("z"));
}

void TstStrconv::utf8Validation_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("ascii") << QByteArray("Top=100") << true;
    QTest::newRow("japanese") << QStringLiteral("録音").toUtf8() << true;
    QTest::newRow("four bytes") << QStringLiteral("\U0001F600").toUtf8() << true;
    QTest::newRow("cp932") << QByteArray("\x98\x5e\x89\xb9") << false;
    QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false;
    QTest::newRow("overlong 3") << QByteArray("\xE0\x80\xAF") << false;
    QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
    QTest::newRow("above max") << QByteArray("\xF4\x90\x80\x80") << false;
    QTest::newRow("truncated") << QByteArray("\xE9\x8C") << false;
}

void TstStrconv::utf8Validation() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, valid);
    QCOMPARE(isValidUtf8(bytes), valid);
}

QTEST_APPLESS_MAIN(TstStrconv)
#include "tst_strconv.moc"
