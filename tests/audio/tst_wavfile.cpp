// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "fileio.h"
#include "spscring.h"
#include "wavfile.h"
#include "tmediaplayer.h"
#include "wavtestutil.h"

#include <QTemporaryDir>
#include <QTest>

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace wavtest;

class TestWavFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString writeWith(const QByteArray &header, qint64 dataBytes, const QString &name)
    {
        QByteArray b = header;
        for (qint64 i = 0; i < dataBytes; ++i)
            b.append(char(i & 0x7F));
        if (dataBytes & 1)
            b.append('\0');
        const QString p = m_dir.filePath(name);
        writeFile(p, b);
        return p;
    }

private slots:
    void plainHeaderIsTheTemplate()
    {
        const AudioFormat f{22050, 8, 2};
        QCOMPARE(WavHeaderWriter(f).header(0), templateBytes(22050, 8, 2));
        QCOMPARE(WavHeaderWriter(f).header(0).size(), 44);
    }

    // A size limit lowered for the test stands in for the 4 GiB of RIFF.
    void largeDataGetsAnRf64Header()
    {
        const AudioFormat f{44100, 16, 2};
        const WavHeaderWriter w(f, 1000);
        QCOMPARE(w.header(1000).left(4), QByteArray("RIFF"));
        const QByteArray h = w.header(4004);
        QCOMPARE(h.size(), 80);
        QCOMPARE(h.left(4), QByteArray("RF64"));
        QCOMPARE(h.mid(12, 4), QByteArray("ds64"));
        const QString p = writeWith(h, 4004, QStringLiteral("rf64.wav"));

        WavInfo info;
        QCOMPARE(readWavHeader(p, &info), quint32(0));
        QCOMPARE(info.dataOffset, qint64(80));
        QCOMPARE(info.dataBytes, qint64(4004));
        QCOMPARE(info.format, f);

        const Sound s = readSound(p);
        QVERIFY(s.ok);
        QCOMPARE(s.major, SF_FORMAT_RF64);
        QCOMPARE(s.frames, qint64(1001));
    }

    void spoolHeaderKeepsItsDataOffset()
    {
        const AudioFormat f{11025, 8, 1};
        const WavHeaderWriter w(f, 1000);
        for (qint64 bytes : {0, 7, 1000, 1001, 5000}) {
            const QByteArray h = w.spoolHeader(bytes);
            QCOMPARE(h.size(), WavHeaderWriter::kSpoolHeaderSize);
            const QString p = writeWith(h, bytes, QStringLiteral("spool.wav"));
            WavInfo info;
            QCOMPARE(readWavHeader(p, &info), quint32(0));
            QCOMPARE(info.dataOffset, WavHeaderWriter::kSpoolHeaderSize);
            QCOMPARE(info.dataBytes, bytes);
            QCOMPARE(readSound(p).frames, bytes);
        }
    }

    void extensiblePcmIsAccepted()
    {
        QByteArray b;
        b.append("RIFF");
        put32(b, 60);
        b.append("WAVE");
        b.append("fmt ");
        put32(b, 40);
        put16(b, 0xFFFE);
        put16(b, 2);
        put32(b, 44100);
        put32(b, 176400);
        put16(b, 4);
        put16(b, 16);
        put16(b, 22);
        put16(b, 16);
        put32(b, 3);
        b.append(QByteArray("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16));
        b.append("data");
        put32(b, 0);
        const QString p = m_dir.filePath(QStringLiteral("ext.wav"));
        QVERIFY(writeFile(p, b));
        WavInfo info;
        QCOMPARE(readWavHeader(p, &info), quint32(0));
        QCOMPARE(info.format, (AudioFormat{44100, 16, 2}));

        b[44] = 3;  // IEEE float sub-format
        QVERIFY(writeFile(p, b));
        QCOMPARE(readWavHeader(p, &info), quint32(MCIERR_WAVE_FORMAT_UNSUPPORTED));
    }

    void chunksBeforeFmtAreSkipped()
    {
        QByteArray b = templateBytes(11025, 16, 1);
        QByteArray list("LIST");
        put32(list, 5);
        list.append("INFOx");
        list.append('\0');  // pad to even
        b.insert(12, list);
        const QString p = m_dir.filePath(QStringLiteral("list.wav"));
        QVERIFY(writeFile(p, b));
        WavInfo info;
        QCOMPARE(readWavHeader(p, &info), quint32(0));
        QCOMPARE(info.dataOffset, qint64(44 + 14));
    }

    // What the file system says wins over the save: modes, links, read-only files and names up
    // to the limit, each with the real reason when the save cannot be done.
    void savesTellTheTruth()
    {
        QTemporaryDir dir;
        const QString spool = dir.filePath(QStringLiteral("data"));
        QVERIFY(writeFile(spool, QByteArray(1000, '\x40')));
        const int dataFd = ::open(QFile::encodeName(spool).constData(), O_RDONLY);
        const AudioFormat f{8000, 8, 1};
        const auto save = [&](const QString &path, AtomicFile::Mode mode, QString *reason, QString *as = nullptr) {
            return writeWavFile(path, f, dataFd, 0, 1000, mode, reason, as);
        };
        const auto modeOf = [](const QString &p) {
            struct stat st {};
            ::lstat(QFile::encodeName(p).constData(), &st);
            return st.st_mode & 07777;
        };
        const mode_t oldMask = ::umask(022);
        QString reason, as;

        const QString fresh = dir.filePath(QStringLiteral("new.wav"));
        QCOMPARE(save(fresh, AtomicFile::Mode::Replace, &reason), quint32(0));
        QCOMPARE(modeOf(fresh), mode_t(0600));
        QCOMPARE(readFile(fresh).size(), 44 + 1000);

        const QString kept = dir.filePath(QStringLiteral("kept.wav"));
        QVERIFY(writeFile(kept, "old"));
        ::chmod(QFile::encodeName(kept).constData(), 0640);
        QCOMPARE(save(kept, AtomicFile::Mode::Replace, &reason), quint32(0));
        QCOMPARE(modeOf(kept), mode_t(0640));
        QCOMPARE(readFile(kept).size(), 44 + 1000);

        const QString readOnly = dir.filePath(QStringLiteral("ro.wav"));
        QVERIFY(writeFile(readOnly, "old"));
        ::chmod(QFile::encodeName(readOnly).constData(), 0444);
        QVERIFY(save(readOnly, AtomicFile::Mode::Replace, &reason) != 0);
        QVERIFY2(reason.contains(QStringLiteral("読み取り専用")), qPrintable(reason));
        QCOMPARE(readFile(readOnly), QByteArray("old"));
        QCOMPARE(modeOf(readOnly), mode_t(0444));

        // The link stays; its target, in another folder, is replaced there.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("real")));
        const QString real = dir.filePath(QStringLiteral("real/take.wav"));
        QVERIFY(writeFile(real, "old"));
        const QString link = dir.filePath(QStringLiteral("link.wav"));
        QVERIFY(QFile::link(QStringLiteral("real/take.wav"), link));
        QCOMPARE(save(link, AtomicFile::Mode::Replace, &reason), quint32(0));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readFile(real).size(), 44 + 1000);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("real"))).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("take.wav")});

        const long nameMax = ::pathconf(QFile::encodeName(dir.path()).constData(), _PC_NAME_MAX);
        const QString longest = dir.filePath(QString(int(nameMax) - 4, QLatin1Char('n')) + QStringLiteral(".wav"));
        QCOMPARE(save(longest, AtomicFile::Mode::Replace, &reason), quint32(0));
        QVERIFY(save(longest + QLatin1Char('x'), AtomicFile::Mode::Replace, &reason) != 0);
        QVERIFY2(reason.contains(QStringLiteral("長すぎ")), qPrintable(reason));

        QVERIFY(save(dir.filePath(QStringLiteral("none/a.wav")), AtomicFile::Mode::Replace, &reason) != 0);
        QVERIFY2(reason.contains(QStringLiteral("存在しません")), qPrintable(reason));

        // A new file takes the next free name; what had the name stays as it was.
        const QString taken = dir.filePath(QStringLiteral("0102030405.wav"));
        QVERIFY(writeFile(taken, "first"));
        QVERIFY(writeFile(dir.filePath(QStringLiteral("0102030405-2.wav")), "second"));
        QCOMPARE(save(taken, AtomicFile::Mode::NoReplace, &reason, &as), quint32(0));
        QCOMPARE(as, dir.filePath(QStringLiteral("0102030405-3.wav")));
        QCOMPARE(readFile(taken), QByteArray("first"));
        QCOMPARE(readFile(as).size(), 44 + 1000);
        // ...also when another writer takes the name while the file is being written.
        const QString raced = dir.filePath(QStringLiteral("raced.wav"));
        AtomicFile racing(raced, AtomicFile::Mode::NoReplace);
        QCOMPARE(racing.open(), quint32(0));
        QVERIFY(writeFile(raced, "other copy"));
        QCOMPARE(racing.commit(), quint32(0));
        QCOMPARE(racing.finalPath(), dir.filePath(QStringLiteral("raced-2.wav")));
        QCOMPARE(readFile(raced), QByteArray("other copy"));

        ::umask(oldMask);
        ::close(dataFd);
        const QStringList stray = QDir(dir.path()).entryList({QStringLiteral(".tavr-*")}, QDir::Files | QDir::Hidden);
        QVERIFY2(stray.isEmpty(), qPrintable(stray.join(QLatin1Char(' '))));
    }

    void ringWrapsAndNeverOverfills()
    {
        SpscRing ring(10);
        QCOMPARE(ring.capacity(), size_t(16));
        unsigned char produced = 0, consumed = 0;
        unsigned char buf[32];
        for (int round = 0; round < 50; ++round) {
            unsigned char chunk[11];
            for (int i = 0; i < 11; ++i)
                chunk[i] = (unsigned char)(produced + i);
            const size_t free = ring.writable();
            const size_t w = ring.write(chunk, 11);
            QCOMPARE(w, std::min<size_t>(11, free));
            produced = (unsigned char)(produced + w);
            QVERIFY(ring.readable() <= ring.capacity());
            const size_t r = ring.read(buf, size_t(3 + round % 9));
            for (size_t i = 0; i < r; ++i)
                QCOMPARE(buf[i], consumed++);
        }
        QCOMPARE(ring.readable(), size_t((unsigned char)(produced - consumed)));
    }
};

QTEST_GUILESS_MAIN(TestWavFile)
#include "tst_wavfile.moc"
