// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Start-up with no sound server at all: the warning, and a window that still works.
#include "audiobackend.h"
#include "qtplatform.h"
#include "tmediaplayer.h"
#include "unit1.h"
#include "widgets.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

class TestWindowNoSound : public QObject {
    Q_OBJECT
private slots:
    void warnsThatThereIsNoSoundCardAndOpens() {
        QTemporaryDir dir;
        std::unique_ptr<AudioBackend> backend = makeAudioBackend();
        AudioBackend *devices = backend.get();
        QtPlatform platform([devices] { return devices->outputDeviceCount(); });
        QString caption, text;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                text = box->text();
                box->accept();
            }
        });
        poll.start(50);
        TForm1 form(platform, std::move(backend), AppPaths(dir.path() + "/tavr", dir.path() + "/state"), {});
        poll.stop();
        QCOMPARE(caption, QString("警告"));
        QVERIFY2(text.startsWith("サウンドカードがありません。"), qPrintable(text));
        QVERIFY(text.endsWith("Tavrinが動作しない可能性があります。"));
        QVERIFY(form.mediaPlayer().Opened());
        QCOMPARE(form.findChild<TStatusLabel *>("Label1")->caption(), QString("44100Hz 16ﾋﾞｯﾄ ｽﾃﾚｵ"));
    }
};

QTEST_MAIN(TestWindowNoSound)
#include "tst_window_nosound.moc"
