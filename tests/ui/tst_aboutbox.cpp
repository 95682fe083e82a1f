// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The About box: its controls, the keys that close it or not, focus and placement.
#include "about.h"
#include "widgets.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

class TestAboutBox : public QObject {
    Q_OBJECT

private:
    QWidget *owner = nullptr;
    TAboutBox *box = nullptr;

    // Runs the box modally; `during` runs inside the modal loop once the box is up.
    int runModal(const std::function<void()> &during)
    {
        bool ran = false;
        QTimer::singleShot(0, box, [&] {
            QVERIFY(QTest::qWaitForWindowExposed(box));
            box->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(box));
            during();
            ran = true;
            if (box->isVisible())
                box->done(99);
        });
        const int result = box->showModalBox();
        if (!ran)
            return -1;
        return result;
    }

private slots:
    void init()
    {
        owner = new QWidget;
        owner->resize(245, 70);
        owner->move(10, 10);
        owner->show();
        owner->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(owner));
        box = new TAboutBox(owner);
    }
    void cleanup()
    {
        delete box;
        delete owner;
    }

    void controls()
    {
        QCOMPARE(box->objectName(), QStringLiteral("AboutBox"));
        QCOMPARE(box->windowTitle(), QStringLiteral("バージョン情報"));
        QCOMPARE(box->size(), QSize(322, 108));
        QCOMPARE(box->minimumSize(), box->maximumSize());
        QVERIFY(!(box->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(box->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(box->windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(box->windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(box->font().pixelSize(), 12);
        QCOMPARE(box->font().families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));

        QCOMPARE(box->ProgramIcon->geometry(), QRect(8, 8, 32, 32));
        QVERIFY(box->ProgramIcon->hasScaledContents());
        QCOMPARE(box->ProgramIcon->pixmap().size(), QSize(32, 32));
        QCOMPARE(box->ProductName->text(), QStringLiteral("Tavrin Ver2.18"));
        QVERIFY(box->ProductName->font().bold());
        QCOMPARE(box->ProductName->pos(), QPoint(48, 16));
        QCOMPARE(box->ProductName->height(), 12);
        QVERIFY(box->Copyright->text().startsWith(QStringLiteral("Copyright")));
        QVERIFY(!box->Copyright->font().bold());
        QCOMPARE(box->Copyright->pos(), QPoint(48, 32));
        QVERIFY(box->Copyright->x() + box->Copyright->width() <= box->OKButton->x());
        QCOMPARE(box->OKButton->geometry(), QRect(248, 12, 66, 25));
        QCOMPARE(box->OKButton->text(), QStringLiteral("OK"));
        QVERIFY(box->OKButton->isDefault());
        QCOMPARE(box->Bevel1->geometry(), QRect(0, 48, 321, 2));
        QCOMPARE(box->Panel1->geometry(), QRect(0, 90, 322, 18));
        QCOMPARE(box->Panel1->focusPolicy(), Qt::NoFocus);

        QCOMPARE(box->HomePage->geometry(), QRect(48, 56, 265, 12));
        QCOMPARE(box->EMail->geometry(), QRect(48, 72, 265, 12));
        QVERIFY(box->HomePage->text().startsWith(QStringLiteral("https://")));
        QVERIFY(box->EMail->text().contains(QLatin1Char('@')));
        for (QLineEdit *e : {static_cast<QLineEdit *>(box->HomePage), static_cast<QLineEdit *>(box->EMail)}) {
            QVERIFY(e->isReadOnly());
            QVERIFY(!e->hasFrame());
            QCOMPARE(e->palette().color(QPalette::Base), box->palette().color(QPalette::Button));
            QVERIFY(e->fontMetrics().horizontalAdvance(e->text()) < e->width());
        }
    }

    void escapeLeavesItOpenEnterClosesWithOk()
    {
        const int result = runModal([&] {
            QCOMPARE(QApplication::focusWidget(), box->HomePage);
            QVERIFY(!box->HomePage->hasSelectedText());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QVERIFY(box->isVisible());
            // Enter closes it from an edit line: OK is the default button.
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            QVERIFY(!box->isVisible());
        });
        QCOMPARE(result, 1);
    }

    void okButtonAndTitleBarClose()
    {
        QCOMPARE(runModal([&] { QTest::mouseClick(box->OKButton, Qt::LeftButton); }), 1);
        QCOMPARE(runModal([&] { box->close(); }), 2);
        QVERIFY(!box->isVisible());
    }

    // Each Tab position looks different, and the fields carry names for screen readers.
    void focusIsVisibleAndFieldsAreNamed()
    {
        QCOMPARE(box->HomePage->accessibleName(), QStringLiteral("ホームページ"));
        QCOMPARE(box->EMail->accessibleName(), QStringLiteral("電子メール"));
        QList<QImage> shots;
        runModal([&] {
            for (int i = 0; i < 3; ++i) {
                shots << box->grab().toImage();
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
        });
        QCOMPARE(shots.size(), 3);
        QVERIFY(shots[0] != shots[1]);
        QVERIFY(shots[1] != shots[2]);
        QVERIFY(shots[0] != shots[2]);
    }

    void tabOrder()
    {
        runModal([&] {
            QCOMPARE(QApplication::focusWidget(), box->HomePage);
            QTest::keyClick(box->HomePage, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), box->EMail);
            QVERIFY(!box->EMail->hasSelectedText());
            QTest::keyClick(box->EMail, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), box->OKButton);
            QTest::keyClick(box->OKButton, Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), box->HomePage);
            QVERIFY(!box->HomePage->hasSelectedText());
            // Enter on OK closes it too.
            QTest::keyClick(box->HomePage, Qt::Key_Tab);
            QTest::keyClick(box->EMail, Qt::Key_Tab);
            QTest::keyClick(box->OKButton, Qt::Key_Return);
            QVERIFY(!box->isVisible());
        });
        QCOMPARE(box->result(), 1);
    }

    void centredFirstThenWhereItWasLeft()
    {
        QPoint first;
        runModal([&] {
            const QRect screen = owner->screen()->geometry();
            const QRect frame = box->frameGeometry();
            first = frame.topLeft();
            QVERIFY(frame.x() >= screen.x() && frame.y() >= screen.y());
            QVERIFY(qAbs(frame.center().x() - screen.center().x()) <= 1);
            QVERIFY(qAbs(frame.center().y() - screen.center().y()) <= 1);
            box->move(first + QPoint(-37, 25));
            box->done(1);
        });
        runModal([&] { QCOMPARE(box->frameGeometry().topLeft(), first + QPoint(-37, 25)); });
    }
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
