// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saving as WAV, FLAC, Ogg Vorbis, MP3 or Opus from the window: the name's extension decides over the
// filter, and a cancelled save leaves the take unsaved and the folder clean.
#include "recorderrig.h"

#include <QDir>

namespace {

// What the start of the file says it is: its own mark, or the Ogg codec's.
bool isA(const RecorderRig &rig, const QString &path, const QByteArray &mark)
{
    return rig.readFile(path).left(64).contains(mark);
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TstSaveFormats : public QObject {
    Q_OBJECT
private slots:
    void theExtensionDecidesOverTheFilter()
    {
        RecorderRig rig;
        rig.start();
        QCOMPARE(rig.form->saveDialog().filterIndex, 1);
        rig.key(Qt::Key_Space);
        rig.advanceAndTick(1500);
        rig.key(Qt::Key_Space);

        const struct {
            const char *name;
            int filter;
            QByteArray magic;
        } cases[] = {
            {"a.ogg", 2, "vorbis"},    // typed extension over the FLAC filter
            {"b.FLAC", 1, "fLaC"},     // over the WAV filter, in any case
            {"c.wav", 3, "RIFF"},
            {"d.take", 2, "fLaC"},     // not one of ours: the filter decides
            {"e.take", 3, "vorbis"},
            {"f.mp3", 5, "ID3\x04"},
            {"g.Opus", 4, "OpusHead"},
            {"h.take", 4, "ID3\x04"},
            {"i.take", 5, "OpusHead"},
        };
        for (const auto &c : cases) {
            const QString target = rig.dir.filePath(QString::fromLatin1(c.name));
            rig.platform.saveAnswers.enqueue(target);
            rig.platform.saveFilters.enqueue(c.filter);
            rig.click("SBSave");
            QVERIFY2(isA(rig, target, c.magic), c.name);
        }
        QVERIFY(rig.form->fileSaved());
        QCOMPARE(rig.platform.saveWaits, 9);
        QVERIFY(rig.platform.errors().isEmpty());
    }

    void aCancelledSaveLeavesNoFileAndTheTakeUnsaved()
    {
        RecorderRig rig;
        rig.start();
        rig.key(Qt::Key_Space);
        for (int i = 0; i < 120; ++i)
            rig.advanceAndTick(500);
        const QStringList before = entries(rig.dir.path());
        const QString target = rig.dir.filePath("long.opus");
        rig.platform.saveAnswers.enqueue(target);
        rig.platform.saveCancels.enqueue(true);
        rig.key(Qt::Key_S, Qt::ControlModifier);
        QVERIFY(!rig.form->fileSaved());
        QCOMPARE(entries(rig.dir.path()), before);
        QVERIFY(rig.platform.errors().isEmpty());
        // The recording went on under the save.
        QCOMPARE(rig.device().Mode(), ModeRecording);
        rig.advanceAndTick(500);
        QCOMPARE(rig.device().Length(), 60500);
    }
};

QTEST_MAIN(TstSaveFormats)
#include "tst_saveformats.moc"
