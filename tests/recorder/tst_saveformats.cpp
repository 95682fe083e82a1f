// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Saving as WAV, FLAC or Ogg Vorbis from the window: the name's extension decides over the
// filter, and a cancelled save leaves the take unsaved and the folder clean.
#include "recorderrig.h"

#include <QDir>

namespace {

QByteArray magic(const RecorderRig &rig, const QString &path)
{
    return rig.readFile(path).left(4);
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
            {"a.ogg", 2, "OggS"},   // typed extension over the FLAC filter
            {"b.FLAC", 1, "fLaC"},  // over the WAV filter, in any case
            {"c.wav", 3, "RIFF"},
            {"d.take", 2, "fLaC"},  // not one of ours: the filter decides
            {"e.take", 3, "OggS"},
        };
        for (const auto &c : cases) {
            const QString target = rig.dir.filePath(QString::fromLatin1(c.name));
            rig.platform.saveAnswers.enqueue(target);
            rig.platform.saveFilters.enqueue(c.filter);
            rig.click("SBSave");
            QCOMPARE(magic(rig, target), c.magic);
        }
        QVERIFY(rig.form->fileSaved());
        QCOMPARE(rig.platform.saveWaits, 5);
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
        const QString target = rig.dir.filePath("long.ogg");
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
