// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What a power cut can leave of a take, and what the next start makes of it. A real take on the
// fake backend runs with every file operation of its spool recorded: a save in the middle, a
// save of the whole take, and the end. From that log come the disk states a cut may leave at
// each moment: what was synced (file data by fdatasync, names by a sync of their folder), and
// that plus any prefix of what followed. Each state is laid out afresh and recovered by the
// real recovery code.
#include "fakeaudiobackend.h"
#include "spool.h"
#include "spoolrecovery.h"
#include "tmediaplayer.h"
#include "wavfile.h"
#include "wavtestutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace wavtest;

namespace {

struct Op {
    enum Kind { Io, SaveDone } kind = Io;
    SpoolIo io = SpoolIo::Write;
    QString name, to;   // file names in the spool folder
    QByteArray data;    // a write's bytes; a save: the data bytes the saved file holds
    qint64 offset = 0;
};

QList<Op> g_log;

bool recordOp(const SpoolIoCall &call)
{
    Op op;
    op.io = call.op;
    if (call.path)
        op.name = QFileInfo(QFile::decodeName(call.path)).fileName();
    if (call.to)
        op.to = QFileInfo(QFile::decodeName(call.to)).fileName();
    if (call.data)
        op.data = QByteArray(static_cast<const char *>(call.data), int(call.len));
    op.offset = call.offset;
    g_log.append(op);
    return true;
}

bool isNameOp(const Op &op)
{
    return op.kind == Op::Io &&
           (op.io == SpoolIo::Create || op.io == SpoolIo::Rename || op.io == SpoolIo::Remove);
}

bool isContentOp(const Op &op)
{
    return op.kind == Op::Io && (op.io == SpoolIo::Write || op.io == SpoolIo::HeaderWrite);
}

void put(QByteArray &file, qint64 offset, const QByteArray &data)
{
    if (file.size() < offset + data.size())
        file.resize(offset + data.size(), '\0');
    file.replace(offset, data.size(), data);
}

} // namespace

class TestCrashStates : public QObject {
    Q_OBJECT
private slots:
    void everyCutLeavesAPrefixOfTheTakeOnceAndLosesAtMostASecond();
    void aHoleInAnEightBitSpoolIsSilence();
};

void TestCrashStates::everyCutLeavesAPrefixOfTheTakeOnceAndLosesAtMostASecond()
{
    constexpr int kRate = 11025;  // 8-bit mono: a byte a frame
    constexpr int kStepMs = 50;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    // The take.
    g_log.clear();
    setSpoolIoHook(recordOp);
    {
        auto fake = std::make_unique<FakeAudioBackend>();
        FakeAudioBackend *clock = fake.get();
        TMediaPlayer player(std::move(fake), dir.filePath("state"));
        player.FileName = dir.filePath("tavr.wav");
        QVERIFY(writeFile(player.FileName, templateBytes(kRate, 8, 1)));
        player.Open();
        player.Record();
        const auto save = [&](const QString &name) {
            player.FileName = dir.filePath(name);
            player.Save();
            QCOMPARE(player.ErrorCode(), 0u);
            Op done;
            done.kind = Op::SaveDone;
            done.data = readFile(player.FileName).mid(44);
            g_log.append(done);
        };
        for (int t = 0; t < 2500; t += kStepMs)
            clock->advance(kStepMs);
        save("mid.wav");
        for (int t = 0; t < 2000; t += kStepMs)
            clock->advance(kStepMs);
        player.Stop();
        save("whole.wav");
        player.MarkSaved();
        player.Close();
    }
    setSpoolIoHook(nullptr);

    QByteArray take;
    for (const Op &op : g_log)
        if (op.kind == Op::Io && op.io == SpoolIo::Write)
            take += op.data;
    QCOMPARE(take.size(), qint64(kRate) * 4500 / 1000);
    qint64 markedAt = -1;  // the op after which the whole take's mark is durable
    for (qsizetype i = 0; i < g_log.size(); ++i) {
        if (g_log[i].io == SpoolIo::Rename && g_log[i].to.startsWith(SpoolNames::kSaved)) {
            for (qsizetype j = i; j < g_log.size() && markedAt < 0; ++j)
                if (g_log[j].io == SpoolIo::FolderSync)
                    markedAt = j + 1;
        }
    }
    QVERIFY(markedAt > 0);
    // The take is durable from its first fraction of a second.
    qint64 beforeFirstSync = 0;
    for (const Op &op : g_log) {
        if (op.io == SpoolIo::Sync && beforeFirstSync > 0)
            break;
        if (op.io == SpoolIo::Write)
            beforeFirstSync += op.data.size();
    }
    QVERIFY(beforeFirstSync <= kRate / 4);

    // The states: for each cut, what was synced, plus a prefix of the rest (none, all, and
    // one drawn at random in between); the same state is tried once.
    QRandomGenerator random(20261210);
    QSet<QByteArray> seen;
    int tried = 0;
    qint64 worstLoss = 0;
    for (qsizetype cut = 0; cut <= g_log.size(); ++cut) {
        qsizetype lastSync = -1, lastFolderSync = -1;
        for (qsizetype i = 0; i < cut; ++i) {
            if (g_log[i].io == SpoolIo::Sync && g_log[i].kind == Op::Io)
                lastSync = i;
            if (g_log[i].io == SpoolIo::FolderSync && g_log[i].kind == Op::Io)
                lastFolderSync = i;
        }
        for (const qsizetype prefix : {qsizetype(0), cut, qsizetype(random.bounded(int(cut) + 1))}) {
            QByteArray key(cut, '0');
            for (qsizetype i = 0; i < cut; ++i) {
                const Op &op = g_log[i];
                const bool durable = i < prefix || op.kind == Op::SaveDone ||
                                     (isContentOp(op) && i < lastSync) || (isNameOp(op) && i < lastFolderSync);
                key[i] = durable ? '1' : '0';
            }
            if (seen.contains(key))
                continue;
            seen.insert(key);
            ++tried;

            // Lay the state out: one file whose names and bytes are those the log gives it.
            // In memory where there is a file system there: syncs cost nothing, and the states
            // run in seconds.
            QTemporaryDir disk(QDir("/dev/shm").exists() ? "/dev/shm/tavr-crash-XXXXXX" : QString());
            const QString state = disk.filePath("state"), data = disk.filePath("data");
            QVERIFY(QDir().mkpath(state) && QDir().mkpath(data));
            QByteArray content;
            QString name;
            qint64 saved = 0;
            bool wholeSaved = false;
            for (qsizetype i = 0; i < cut; ++i) {
                const Op &op = g_log[i];
                if (key[i] != '1')
                    continue;
                if (op.kind == Op::SaveDone) {
                    saved = std::max<qint64>(saved, op.data.size());
                    wholeSaved = op.data.size() == take.size();
                } else if (op.io == SpoolIo::Create) {
                    name = op.name;
                } else if (op.io == SpoolIo::Rename && op.name == name) {
                    name = op.to;
                } else if (op.io == SpoolIo::Remove && op.name == name) {
                    name.clear();
                } else if (isContentOp(op)) {
                    put(content, op.offset, op.data);
                }
            }
            if (!name.isEmpty())
                QVERIFY(writeFile(state + "/" + name, content));

            const QList<RecoveredTake> takes = recoverOrphanedSpools(state, data);
            const QString where = QString("cut %1 of %2, prefix %3").arg(cut).arg(g_log.size()).arg(prefix);
            qint64 kept = saved;
            for (const RecoveredTake &t : takes) {
                QVERIFY2(!t.savedAs.isEmpty(), qPrintable(where + ": not recovered"));
                const Sound sound = readSound(t.savedAs);
                QVERIFY2(sound.ok && sound.rate == kRate && sound.channels == 1, qPrintable(where));
                const QByteArray got = readFile(t.savedAs).mid(44, sound.frames);
                QVERIFY2(got.size() == sound.frames && take.startsWith(got),
                         qPrintable(where + ": not a prefix of the take"));
                kept = std::max<qint64>(kept, got.size());
            }
            // A take saved whole is never recovered again once its mark is on disk; before
            // that (one rename and one folder sync after the save) a second copy is allowed.
            QVERIFY2(takes.size() <= 1, qPrintable(where));
            QVERIFY2(!(wholeSaved && cut >= markedAt && !takes.isEmpty()), qPrintable(where + ": a duplicate"));
            // Recovery leaves nothing behind: no litter, no empty or saved spool.
            QVERIFY2(QDir(state).entryList(QDir::Files | QDir::Hidden).isEmpty(), qPrintable(where));

            qint64 written = 0;
            for (qsizetype i = 0; i < cut; ++i)
                if (g_log[i].kind == Op::Io && g_log[i].io == SpoolIo::Write)
                    written += g_log[i].data.size();
            const qint64 loss = written - kept;
            worstLoss = std::max(worstLoss, loss);
            QVERIFY2(loss <= qint64(kRate) * (Spool::kSyncEveryMs + kStepMs) / 1000,
                     qPrintable(where + QString(": lost %1 frames").arg(loss)));
        }
    }
    qInfo("crash states tried: %d of %lld operations; worst loss %.3f s", tried, qint64(g_log.size()),
          double(worstLoss) / kRate);
    QVERIFY(tried > 200);
}

// A file system that kept a spool's length but not some of its blocks shows them as holes.
// They must come back as silence, which for 8-bit samples is 0x80, not 0x00 (full scale).
void TestCrashStates::aHoleInAnEightBitSpoolIsSilence()
{
    QTemporaryDir disk;
    const QString state = disk.filePath("state"), data = disk.filePath("data");
    QVERIFY(QDir().mkpath(state));
    const QString spool = state + "/spool-1-0.wav";
    constexpr qint64 kBlock = 1 << 16;
    QFile f(spool);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(WavHeaderWriter({11025, 8, 1}).spoolHeader(3 * kBlock - 80));
    f.write(QByteArray(kBlock - 80, char(1)));
    QVERIFY(f.seek(2 * kBlock));
    f.write(QByteArray(kBlock, char(2)));  // a hole of a block lies in between
    f.close();

    const QList<RecoveredTake> takes = recoverOrphanedSpools(state, data);
    QCOMPARE(takes.size(), 1);
    const QByteArray got = readFile(takes.first().savedAs).mid(44);
    QCOMPARE(got, QByteArray(kBlock - 80, char(1)) + QByteArray(kBlock, char(0x80)) + QByteArray(kBlock, char(2)));
}

QTEST_GUILESS_MAIN(TestCrashStates)
#include "tst_crashstates.moc"
