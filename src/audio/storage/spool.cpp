// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "spool.h"

#include "fileio.h"
#include "spoolring.h"
#include "spscring.h"
#include "deviceerror.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>


namespace {

using Clock = std::chrono::steady_clock;

std::atomic<unsigned> g_counter{0};
std::atomic<SpoolIoHook> g_hook{nullptr};

bool hookAllows(const SpoolIoCall &call)
{
    const SpoolIoHook hook = g_hook.load(std::memory_order_relaxed);
    if (!hook)
        return true;
    errno = 0;
    if (hook(call))
        return true;
    if (errno == 0)
        errno = EIO;
    return false;
}

bool hookAllows(SpoolIo op, const char *path = nullptr)
{
    SpoolIoCall call{op};
    call.path = path;
    return hookAllows(call);
}

bool syncSpoolFolder(const QString &dir)
{
    const QByteArray native = QFile::encodeName(dir);
    return hookAllows(SpoolIo::FolderSync, native.constData()) && syncFolder(dir);
}

// Renames without ever replacing what is at to.
bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    SpoolIoCall call{SpoolIo::Rename};
    call.path = from.constData();
    call.to = to.constData();
    if (!hookAllows(call))
        return false;
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

void removeFile(const QByteArray &path)
{
    if (hookAllows(SpoolIo::Remove, path.constData()))
        ::unlink(path.constData());
}

// Told apart from the spools of other copies by more than the process id: inside a sandbox or
// a container every start may get the same one.
QString processToken()
{
    static const QString token = QStringLiteral("%1-%2")
                                     .arg(::getpid())
                                     .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
    return token;
}

} // namespace

void setSpoolIoHook(SpoolIoHook hook) { g_hook.store(hook); }

Spool::Spool(QString dir) : m_dir(std::move(dir))
{
    ::sem_init(&m_kick, 0, 0);
}

Spool::~Spool()
{
    stopDiskThread();
    discard();
    ::sem_destroy(&m_kick);
}

bool Spool::create(const AudioFormat &format)
{
    if (m_fd >= 0)
        return true;
    m_format = format;
    m_bpf = std::max(1, format.bytesPerFrame());
    if (!makePrivatePath(m_dir))
        return false;
    const QDir dir(m_dir);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString stem = QStringLiteral("%1-%2.wav").arg(processToken()).arg(g_counter.fetch_add(1));
        // Born under a name that recovery passes over while it is locked, and locked before it
        // gets its own, so no other copy can ever take a live spool for an orphan.
        const QByteArray birth = QFile::encodeName(dir.filePath(QLatin1String(SpoolNames::kBirth) + stem));
        const QString path = dir.filePath(QLatin1String(SpoolNames::kLive) + stem);
        if (!hookAllows(SpoolIo::Create, birth.constData()))
            return false;
        const int fd = ::open(birth.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const QByteArray header = WavHeaderWriter(format).spoolHeader(0);
        struct stat st {};
        SpoolIoCall write{SpoolIo::HeaderWrite};
        write.path = birth.constData();
        write.data = header.constData();
        write.len = header.size();
        // The header is synced before the spool is named: a named spool always reads as a WAV
        // file, even after a power cut.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);  // a recovering copy took it for litter and will remove it
            continue;
        }
        if (::fstat(fd, &st) != 0 || st.st_nlink == 0 ||
            !hookAllows(write) || !writeAllAt(fd, header.constData(), header.size(), 0) ||
            !hookAllows(SpoolIo::Sync, birth.constData()) || ::fdatasync(fd) != 0) {
            const bool gone = st.st_nlink == 0;  // taken away as litter before it was locked
            removeFile(birth);
            ::close(fd);
            if (gone)
                continue;
            return false;
        }
        if (!renameNoReplace(birth, QFile::encodeName(path))) {
            const bool again = errno == EEXIST || errno == ENOENT;
            removeFile(birth);
            ::close(fd);
            if (again)
                continue;
            return false;
        }
        if (!syncSpoolFolder(m_dir))
            qCWarning(lcAudio) << "could not sync the spool folder" << m_dir;
        m_fd = fd;
        m_path = path;
        m_stem = stem;
        m_saved = false;
        m_dataBytes = 0;
        m_durable = true;
        return true;
    }
    return false;
}

bool Spool::import(int fd, qint64 offset, qint64 len)
{
    if (m_fd < 0 || !copyRange(fd, offset, m_fd, WavHeaderWriter::kSpoolHeaderSize, len))
        return false;
    m_dataBytes = len;
    return syncHeader();
}

void Spool::discard()
{
    stopDiskThread();
    closeRingFile();
    if (m_fd >= 0) {
        // Unlinked while still locked: a recovering copy cannot pick up a discarded take. The
        // folder is synced, or a power cut could bring the take back as an orphan.
        removeFile(QFile::encodeName(m_path));
        ::close(m_fd);
        syncSpoolFolder(m_dir);
    }
    m_fd = -1;
    m_path.clear();
    m_dataBytes = 0;
}

void Spool::keep()
{
    stopDiskThread();
    closeRingFile();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_dataBytes = 0;
}

bool Spool::setSaved(bool saved)
{
    if (m_fd < 0 || m_saved == saved)
        return true;
    const QString to = QDir(m_dir).filePath(QLatin1String(saved ? SpoolNames::kSaved : SpoolNames::kLive) + m_stem);
    if (!renameNoReplace(QFile::encodeName(m_path), QFile::encodeName(to))) {
        qCWarning(lcAudio) << "could not rename the spool" << m_path << std::strerror(errno);
        return false;
    }
    m_path = to;
    m_saved = saved;
    return syncSpoolFolder(m_dir);
}

void Spool::fail(quint32 code)
{
    if (!m_failed.load()) {
        m_failCode = code;
        m_failed = true;
    }
}

quint32 Spool::pendingFault() const
{
    if (m_failed.load())
        return m_failCode.load();
    return m_dropped.load() > 0 ? quint32(MCIERR_WAVE_OVERRUN) : 0u;
}

// Brings the header's sizes up to date (in the page cache: a killed program keeps it). A
// failure is a disk fault, and the file is no longer trusted to be whole.
bool Spool::writeHeader()
{
    if (m_fd < 0)
        return true;
    const QByteArray h = WavHeaderWriter(m_format).spoolHeader(m_dataBytes.load());
    SpoolIoCall call{SpoolIo::HeaderWrite};
    call.data = h.constData();
    call.len = h.size();
    return stillDurable(hookAllows(call) && writeAllAt(m_fd, h.constData(), h.size(), 0), "header write");
}

// Makes what the file holds durable. After a failed sync nothing in the file is claimed
// durable again.
bool Spool::syncData()
{
    if (m_fd < 0)
        return true;
    return stillDurable(hookAllows(SpoolIo::Sync) && ::fdatasync(m_fd) == 0, "sync");
}

// After a failed header write or sync the file is no longer trusted to be whole, and every
// later one fails the take too.
bool Spool::stillDurable(bool ok, const char *what)
{
    if (!ok) {
        qCWarning(lcAudio) << "spool" << what << "failed:" << std::strerror(errno);
        m_durable = false;
    }
    if (!m_durable)
        fail(MCIERR_FILE_WRITE);
    return m_durable;
}

bool Spool::syncHeader()
{
    // Both, even after a failure of the first: what can still be made durable is.
    const bool header = writeHeader();
    return syncData() && header;
}

// Appends samples and then the header that counts them, so a file cut anywhere in between
// still reads as a valid recording.
bool Spool::appendData(const void *data, qint64 len)
{
    const qint64 off = WavHeaderWriter::kSpoolHeaderSize + m_dataBytes.load();
    SpoolIoCall call{SpoolIo::Write};
    call.data = data;
    call.len = len;
    call.offset = off;
    qint64 written = 0;
    const bool ok = hookAllows(call) && writeAllAt(m_fd, data, len, off, &written);
    const int err = errno;
    m_dataBytes += written - written % m_bpf;
    if (written > 0)
        writeHeader();
    if (!ok) {
        qCWarning(lcAudio) << "spool write failed:" << std::strerror(err);
        fail(MCIERR_FILE_WRITE);
    }
    return ok && !m_failed.load();
}

// --- capture ----------------------------------------------------------------------------

void Spool::beginCapture(bool threaded)
{
    m_threaded = threaded;
    m_sinceSync = 0;
    m_syncedOnce = false;
    m_failed = false;
    m_failCode = 0;
    m_dropped = 0;
    if (!m_durable)
        fail(MCIERR_FILE_WRITE);
    if (threaded) {
        startDiskThread();
        if (!m_ringFile)
            m_ringFile = RingFile::create(m_dir, m_stem, m_bpf, m_ring->capacity());
        m_captureRing = m_ringFile ? &m_ringFile->ring() : m_ring.get();
        m_captureRing->reset();
        if (m_ringFile)
            m_ringFile->setBase(std::uint64_t(m_dataBytes.load()));
        m_wakeForFirst = true;
        request(Job::Record, false);
    }
}

void Spool::closeRingFile()
{
    m_captureRing = nullptr;
    m_ringFile.reset();
}

qint64 Spool::writeInline(const void *data, qint64 frames)
{
    const qint64 before = m_dataBytes.load();
    const bool ok = appendData(data, frames * m_bpf);
    const qint64 whole = (m_dataBytes.load() - before) / m_bpf;
    m_sinceSync += whole;
    if (!ok)
        return -1;
    const qint64 due = m_syncedOnce ? qint64(m_format.rate) * kSyncEveryMs / 1000
                                    : qint64(m_format.rate) * kFirstSyncMs / 1000;
    if (m_sinceSync >= due) {
        m_sinceSync = 0;
        m_syncedOnce = true;
        if (!syncData())
            return -1;
    }
    return whole;
}

qint64 Spool::write(const void *data, qint64 frames)
{
    if (m_failed.load(std::memory_order_relaxed))
        return m_threaded ? frames : -1;
    if (!m_threaded)
        return writeInline(data, frames);
    const qint64 fit = std::min<qint64>(frames, qint64(m_captureRing->writable()) / m_bpf);
    m_captureRing->write(data, size_t(fit * m_bpf));
    if (fit < frames)
        m_dropped.fetch_add(frames - fit, std::memory_order_relaxed);
    return fit;
}

void Spool::kick()
{
    if (!m_threaded)
        return;
    if (m_ringFile && !m_wakeForFirst.exchange(false, std::memory_order_relaxed) &&
        m_captureRing->readable() < m_captureRing->capacity() / 4)
        return;
    if (!m_kicked.exchange(true, std::memory_order_acq_rel))
        ::sem_post(&m_kick);
}

void Spool::flush()
{
    if (m_disk.joinable() && m_job == Job::Record)
        request(Job::Record, true);
}

quint32 Spool::endCapture()
{
    if (m_disk.joinable()) {
        request(Job::Record, true);
        request(Job::None, false);
    }
    if (m_failed.load() && m_fd >= 0) {
        // Keep exactly what reached the disk.
        if (::ftruncate(m_fd, WavHeaderWriter::kSpoolHeaderSize + m_dataBytes.load()) != 0)
            qCWarning(lcAudio) << "could not trim the spool" << m_path;
    }
    if (m_ringFile)
        m_ringFile->setBase(RingFile::kNotCapturing);
    const bool failedBefore = m_failed.load();
    if (!syncHeader() && !failedBefore)
        qCWarning(lcAudio) << "the take's last sync failed";
    return pendingFault();
}

// --- playback ---------------------------------------------------------------------------

void Spool::beginPlayback(qint64 from, qint64 end, bool threaded)
{
    m_threaded = threaded;
    m_failed = false;
    m_failCode = 0;
    m_playEnd = end;
    m_playFrame = from;
    m_eof = false;
    if (threaded) {
        startDiskThread();
        m_ring->reset();
        m_readByte = WavHeaderWriter::kSpoolHeaderSize + from * m_bpf;
        fillRing();  // the first seconds, before the first callback asks
        request(Job::Play, false);
    }
}

qint64 Spool::read(void *data, qint64 frames, qint64 *real)
{
    if (!m_threaded) {
        const qint64 n = std::min(frames, m_playEnd - m_playFrame);
        *real = 0;
        if (n <= 0)
            return 0;
        const qint64 got =
            readAt(m_fd, data, n * m_bpf, WavHeaderWriter::kSpoolHeaderSize + m_playFrame * m_bpf) / m_bpf;
        m_playFrame += got;
        *real = got;
        if (got < n)
            fail(MCIERR_FILE_READ);
        return got;
    }
    const bool eof = m_eof.load(std::memory_order_acquire);
    const qint64 got = qint64(m_ring->read(data, size_t(frames * m_bpf))) / m_bpf;
    *real = got;
    if (got < frames && !eof) {
        std::memset(static_cast<char *>(data) + got * m_bpf, m_format.bits == 8 ? 0x80 : 0,
                    size_t((frames - got) * m_bpf));
        return frames;
    }
    return got;
}

void Spool::endPlayback()
{
    if (m_disk.joinable())
        request(Job::None, false);
}

// --- the disk thread --------------------------------------------------------------------

void Spool::startDiskThread()
{
    if (m_disk.joinable())
        return;
    if (!m_ring) {
        // Eight seconds of the widest format, so a stalled disk does not lose audio at once.
        m_ring = std::make_unique<SpscRing>(size_t(std::max(2 << 20, m_format.rate * m_bpf * 8)));
    }
    m_buffer.resize(1 << 18);
    m_quit = false;
    m_disk = std::thread([this] { diskLoop(); });
}

void Spool::stopDiskThread()
{
    if (!m_disk.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        ++m_requestSeq;
    }
    ::sem_post(&m_kick);
    m_disk.join();
    m_job = Job::None;
}

// Hands the disk thread a job and waits until it has taken it up (with a flush: until
// everything the ring held has reached the file and the file is synced).
void Spool::request(Job job, bool flush)
{
    std::unique_lock lock(m_mutex);
    m_job = job;
    m_flush = m_flush || flush;
    const quint64 seq = ++m_requestSeq;
    ::sem_post(&m_kick);
    m_done.wait(lock, [&] { return m_doneSeq >= seq; });
}

namespace {
// Waits for a post, or until the deadline (none: for ever).
void waitForKick(sem_t *sem, std::optional<Clock::time_point> until)
{
    if (!until) {
        while (::sem_wait(sem) != 0 && errno == EINTR) {}
        return;
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until->time_since_epoch()).count();
    timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
    while (::sem_clockwait(sem, CLOCK_MONOTONIC, &ts) != 0 && errno == EINTR) {}
}
}  // namespace

void Spool::diskLoop()
{
    // Capture: woken by each fragment, which goes to the file at once; synced on a fixed
    // cadence counted from the take's first audio, so a slow sync does not push the next one
    // back. Playback: the ring holds 8 s, so filling it once a second (briskly in the first
    // second) keeps the thread almost always asleep.
    Job lastJob = Job::None;
    auto jobSince = Clock::now();
    std::optional<Clock::time_point> nextSync;
    auto lastWrite = Clock::now() - std::chrono::seconds(1);
    const auto requested = [this] {
        std::lock_guard lock(m_mutex);
        return m_quit || m_requestSeq != m_doneSeq;
    };
    for (;;) {
        std::optional<Clock::time_point> until;
        {
            std::lock_guard lock(m_mutex);
            if (m_quit)
                break;
            if (m_job != lastJob) {
                lastJob = m_job;
                jobSince = Clock::now();
                nextSync.reset();
            }
            const bool asked = m_requestSeq != m_doneSeq;
            if (!asked && m_job == Job::Record)
                until = nextSync;
            else if (!asked && m_job == Job::Play)
                until = Clock::now() + std::chrono::milliseconds(
                                           Clock::now() - jobSince < std::chrono::seconds(1) ? 10 : 1000);
            else if (asked)
                until = Clock::now();
        }
        waitForKick(&m_kick, until);
        if (lastJob == Job::Record && !(nextSync && Clock::now() >= *nextSync)) {
            // Some servers push audio in blocks of a few milliseconds whatever fragment size
            // is asked for: the file then takes them in batches, a few dozen times a second.
            // Until the flag is cleared the audio thread posts nothing more.
            const auto earliest = lastWrite + std::chrono::milliseconds(kMinWriteGapMs);
            while (Clock::now() < earliest && !requested())
                waitForKick(&m_kick, earliest);
        }
        m_kicked.store(false, std::memory_order_release);

        std::unique_lock lock(m_mutex);
        if (m_quit)
            break;
        const Job job = m_job;
        const bool flush = m_flush;
        const quint64 seq = m_requestSeq;
        lock.unlock();
        if (job == Job::Record) {
            const qint64 before = m_dataBytes.load();
            drainRing();
            const auto now = Clock::now();
            lastWrite = now;
            if (!nextSync && m_dataBytes.load() > before)
                nextSync = now + std::chrono::milliseconds(kFirstSyncMs);
            // A sync due before the next fragment is likely to come is made with this one, so
            // the thread wakes once for both; the deadlines stay where they were.
            const bool due = nextSync && now + std::chrono::milliseconds(kSyncEarlyMs) >= *nextSync;
            if (flush || due) {
                // The sync starts the write-back itself: started apart from it, the disk is
                // asked twice a second, which on a virtual disk costs more than it saves.
                if (!m_failed.load())
                    syncData();
                if (due)
                    *nextSync += std::chrono::milliseconds(kSyncEveryMs);
                while (nextSync && *nextSync <= now)
                    *nextSync += std::chrono::milliseconds(kSyncEveryMs);
            }
        } else if (job == Job::Play) {
            fillRing();
        }
        lock.lock();
        if (flush)
            m_flush = false;
        m_doneSeq = seq;
        m_done.notify_all();
    }
    std::lock_guard lock(m_mutex);
    m_doneSeq = m_requestSeq;
    m_done.notify_all();
}

// The ring lets go of each piece only once the file holds it and its header counts it: a
// ring file killed in between still holds what the file may lack.
void Spool::drainRing()
{
    for (;;) {
        const size_t n = m_captureRing->peek(m_buffer.data(), m_buffer.size());
        if (n == 0)
            return;
        if (!m_failed.load())  // after a failure the ring keeps moving; what is on disk stays
            appendData(m_buffer.data(), qint64(n));
        m_captureRing->consume(n);
    }
}

void Spool::fillRing()
{
    const qint64 end = WavHeaderWriter::kSpoolHeaderSize + m_playEnd * m_bpf;
    while (!m_eof) {
        qint64 room = qint64(std::min(m_ring->writable(), m_buffer.size()));
        room -= room % m_bpf;
        const qint64 want = std::min(room, end - m_readByte);
        if (want <= 0) {
            if (m_readByte >= end)
                m_eof.store(true, std::memory_order_release);
            return;
        }
        qint64 got = readAt(m_fd, m_buffer.data(), want, m_readByte);
        got -= got % m_bpf;
        if (got <= 0) {
            fail(MCIERR_FILE_READ);
            m_eof.store(true, std::memory_order_release);
            return;
        }
        m_ring->write(m_buffer.data(), size_t(got));
        m_readByte += got;
    }
}
