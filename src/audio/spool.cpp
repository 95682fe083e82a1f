// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "spool.h"

#include "fileio.h"
#include "spscring.h"
#include "tmediaplayer.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcAudio)

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<unsigned> g_counter{0};
std::atomic<SpoolIoHook> g_hook{nullptr};

bool hookAllows(SpoolIo op)
{
    const SpoolIoHook hook = g_hook.load(std::memory_order_relaxed);
    if (!hook)
        return true;
    errno = 0;
    if (hook(op))
        return true;
    if (errno == 0)
        errno = EIO;
    return false;
}

bool syncFolder(const QString &dir)
{
    const int dfd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return false;
    const bool ok = ::fsync(dfd) == 0;
    ::close(dfd);
    return ok;
}

// Renames without ever replacing what is at to.
bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
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

} // namespace

void setSpoolIoHook(SpoolIoHook hook) { g_hook.store(hook); }

Spool::Spool(QString dir) : m_dir(std::move(dir)) {}

Spool::~Spool()
{
    stopDiskThread();
    discard();
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
        const unsigned n = g_counter.fetch_add(1);
        // Born under a name that recovery passes over, and locked before it gets its own, so
        // no other copy can ever take a live spool for an orphan.
        const QByteArray birth = QFile::encodeName(dir.filePath(
            QStringLiteral(".new-%1-%2.wav").arg(::getpid()).arg(n)));
        const QString path = dir.filePath(QStringLiteral("spool-%1-%2.wav").arg(::getpid()).arg(n));
        const int fd = ::open(birth.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const QByteArray header = WavHeaderWriter(format).spoolHeader(0);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !writeAllAt(fd, header.constData(), header.size(), 0)) {
            ::unlink(birth.constData());
            ::close(fd);
            return false;
        }
        if (!renameNoReplace(birth, QFile::encodeName(path))) {
            const bool taken = errno == EEXIST;
            ::unlink(birth.constData());
            ::close(fd);
            if (taken)
                continue;
            return false;
        }
        if (!syncFolder(m_dir))
            qCWarning(lcAudio) << "could not sync the spool folder" << m_dir;
        m_fd = fd;
        m_path = path;
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
    if (m_fd >= 0) {
        // Unlinked while still locked: a recovering copy cannot pick up a discarded take.
        ::unlink(QFile::encodeName(m_path).constData());
        ::close(m_fd);
    }
    m_fd = -1;
    m_path.clear();
    m_dataBytes = 0;
}

void Spool::keep()
{
    stopDiskThread();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_path.clear();
    m_dataBytes = 0;
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

// Rewrites the header's sizes and makes the samples durable. A failure is a disk fault, and
// after a failed sync nothing in the file is claimed durable again.
bool Spool::syncHeader()
{
    if (m_fd < 0)
        return true;
    const QByteArray h = WavHeaderWriter(m_format).spoolHeader(m_dataBytes.load());
    const bool written = hookAllows(SpoolIo::HeaderWrite) && writeAllAt(m_fd, h.constData(), h.size(), 0);
    const bool synced = written && hookAllows(SpoolIo::Sync) && ::fdatasync(m_fd) == 0;
    if (!synced) {
        qCWarning(lcAudio) << "spool sync failed:" << std::strerror(errno);
        m_durable = false;
    }
    if (!m_durable) {
        fail(MCIERR_FILE_WRITE);
        return false;
    }
    return true;
}

// --- capture ----------------------------------------------------------------------------

void Spool::beginCapture(bool threaded)
{
    m_threaded = threaded;
    m_sinceSync = 0;
    m_failed = false;
    m_failCode = 0;
    m_dropped = 0;
    if (!m_durable)
        fail(MCIERR_FILE_WRITE);
    if (threaded) {
        startDiskThread();
        m_ring->reset();
        request(Job::Record, false);
    }
}

qint64 Spool::writeInline(const void *data, qint64 frames)
{
    const qint64 off = WavHeaderWriter::kSpoolHeaderSize + m_dataBytes.load();
    qint64 written = 0;
    const bool ok = hookAllows(SpoolIo::Write) && writeAllAt(m_fd, data, frames * m_bpf, off, &written);
    const qint64 whole = written / m_bpf;
    m_dataBytes += whole * m_bpf;
    m_sinceSync += whole;
    if (!ok) {
        fail(MCIERR_FILE_WRITE);
        return -1;
    }
    if (m_sinceSync >= m_format.rate) {
        m_sinceSync = 0;
        if (!syncHeader())
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
    const qint64 fit = std::min<qint64>(frames, qint64(m_ring->writable()) / m_bpf);
    m_ring->write(data, size_t(fit * m_bpf));
    if (fit < frames)
        m_dropped.fetch_add(frames - fit, std::memory_order_relaxed);
    return fit;
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
    m_wake.notify_all();
    m_disk.join();
    m_job = Job::None;
}

// Hands the disk thread a job and waits until it has taken it up (with a flush: until
// everything the ring held has reached the file and the header is current).
void Spool::request(Job job, bool flush)
{
    std::unique_lock lock(m_mutex);
    m_job = job;
    m_flush = m_flush || flush;
    const quint64 seq = ++m_requestSeq;
    m_wake.notify_all();
    m_done.wait(lock, [&] { return m_doneSeq >= seq; });
}

void Spool::diskLoop()
{
    auto lastSync = Clock::now();
    Job lastJob = Job::None;
    auto jobSince = Clock::now();
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        const auto asked = [&] { return m_quit || m_requestSeq != m_doneSeq; };
        if (m_job != lastJob) {
            lastJob = m_job;
            jobSince = Clock::now();
        }
        if (m_job == Job::None) {
            // Idle between streams: asleep until asked, so an open device costs no wake-ups.
            m_wake.wait(lock, asked);
        } else {
            // The ring holds 8 s: waking once a second, to write and sync, keeps the thread
            // almost always asleep. The first second of a stream is served briskly, so a
            // recording reaches the disk at once.
            const bool starting = Clock::now() - jobSince < std::chrono::seconds(1);
            m_wake.wait_for(lock, std::chrono::milliseconds(starting ? 10 : 1000), asked);
        }
        if (m_quit)
            break;
        const Job job = m_job;
        const bool flush = m_flush;
        const quint64 seq = m_requestSeq;
        lock.unlock();
        if (job == Job::Record) {
            drainRing();
            if (flush || Clock::now() - lastSync >= std::chrono::milliseconds(950)) {
                if (!m_failed.load())
                    syncHeader();
                lastSync = Clock::now();
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
    m_doneSeq = m_requestSeq;
    m_done.notify_all();
}

void Spool::drainRing()
{
    for (;;) {
        const size_t n = m_ring->read(m_buffer.data(), m_buffer.size());
        if (n == 0)
            return;
        if (m_failed.load())
            continue;  // keep the ring moving; what is on disk stays
        const qint64 off = WavHeaderWriter::kSpoolHeaderSize + m_dataBytes.load();
        qint64 written = 0;
        const bool ok = hookAllows(SpoolIo::Write) && writeAllAt(m_fd, m_buffer.data(), qint64(n), off, &written);
        m_dataBytes += written - written % m_bpf;
        if (!ok) {
            qCWarning(lcAudio) << "spool write failed:" << std::strerror(errno);
            fail(MCIERR_FILE_WRITE);
        }
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
