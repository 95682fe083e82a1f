// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tmediaplayer.h"

#include "audiobackend.h"
#include "spscring.h"
#include "fileio.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

Q_LOGGING_CATEGORY(lcAudio, "tavrin.audio")

EMCIDeviceError::EMCIDeviceError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

bool mciGetErrorString(quint32 code, QString *text)
{
    struct Entry {
        quint32 code;
        const char *text;
    };
    static const Entry table[] = {
        {MCIERR_NO_ERROR, "エラーはありません。"},
        {MCIERR_INVALID_DEVICE_ID, "無効なデバイス ID です。デバイスが開かれていません。"},
        {MCIERR_HARDWARE, "サウンド デバイスでエラーが発生しました。サウンドの設定を確認してください。"},
        {MCIERR_OUT_OF_MEMORY, "メモリが不足しています。"},
        {MCIERR_CANNOT_LOAD_DRIVER,
         "サウンド サーバーに接続できません。サウンド サービスが動いているか確認してください。"},
        {MCIERR_FILE_NOT_FOUND, "ファイルが見つかりません。パスとファイル名を確認してください。"},
        {MCIERR_DEVICE_NOT_READY, "サウンド デバイスの準備ができていません。"},
        {MCIERR_OUTOFRANGE, "指定された位置が録音の範囲外です。"},
        {MCIERR_FILE_NOT_SAVED,
         "ファイルを保存できませんでした。保存先のフォルダーが存在し、書き込めるか確認してください。"},
        {MCIERR_BAD_TIME_FORMAT, "この時間形式は使えません。"},
        {MCIERR_INVALID_FILE, "WAV ファイルではないか、ファイルが壊れています。"},
        {MCIERR_WAVE_OUTPUTSUNSUITABLE, "この形式を再生できるサウンド デバイスがありません。"},
        {MCIERR_WAVE_INPUTSUNSUITABLE, "この形式で録音できるサウンド デバイスがありません。"},
        {MCIERR_FILE_READ, "ファイルを読み込めませんでした。"},
        {MCIERR_FILE_WRITE,
         "ファイルの書き込み中にエラーが発生しました。ディスクの空き容量を確認してください。"},
        {MCIERR_WAVE_FORMAT_UNSUPPORTED,
         "このファイルの音声形式には対応していません。8 ビットか 16 ビットの PCM (モノラルまたはステレオ) の WAV ファイルが必要です。"},
        {MCIERR_SPOOL_CREATE,
         "録音用の一時ファイルを作成できません。ディスクの空き容量と書き込み権限を確認してください。"},
        {MCIERR_WAVE_OVERRUN, "ディスクへの書き込みが間に合わず、録音の一部が失われました。"},
    };
    for (const Entry &e : table) {
        if (e.code == code) {
            *text = QString::fromUtf8(e.text);
            return true;
        }
    }
    return false;
}

namespace {

using Clock = std::chrono::steady_clock;

QString errorText(quint32 code)
{
    QString text;
    if (!mciGetErrorString(code, &text))
        text = QStringLiteral("原因不明のエラー");
    return text;
}

[[noreturn]] void raiseNoDevice()
{
    throw EMCIDeviceError(QStringLiteral("MCI デバイスがありません"));
}

std::atomic<unsigned> g_spoolCounter{0};

} // namespace

struct TMediaPlayer::Impl : AudioStreamClient {
    enum class Job { None, Record, Play };

    std::unique_ptr<AudioBackend> backend;
    QString spoolDir;

    bool opened = false;
    quint16 deviceId = 0;
    quint16 lastDeviceId = 0;
    quint32 errorCode = 0;
    DeviceFault fault;

    AudioFormat format;
    int bpf = 1;
    TMPModes mode = ModeStopped;
    qint64 posFrames = 0;        // the position while not playing
    qint64 playStartFrame = 0;
    qint64 playEndFrame = 0;

    // The spool: the recording on disk, an 80-byte header and then the samples.
    int spoolFd = -1;
    QString spoolPath;
    std::atomic<qint64> spoolDataBytes{0};  // on disk; the disk thread's while it records
    qint64 framesSinceSync = 0;             // inline recording only

    // Shared with the stream callbacks.
    std::atomic<qint64> totalFrames{0};   // the recording's length, growing during capture
    std::atomic<qint64> handedFrames{0};  // playback: the frame after the last one handed out
    std::atomic<bool> playEof{false};
    std::atomic<bool> ioFailed{false};
    std::atomic<quint32> ioFailCode{0};
    std::atomic<qint64> droppedFrames{0};
    bool overrunReported = false;

    // The disk thread, used with a real-time backend only.
    std::unique_ptr<SpscRing> ring;
    std::thread disk;
    std::mutex diskMutex;
    std::condition_variable diskWake;
    std::condition_variable diskDone;
    Job job = Job::None;
    bool flushRequested = false;
    bool quit = false;
    quint64 requestSeq = 0;
    quint64 doneSeq = 0;
    qint64 playReadByte = 0;  // the disk thread's while it plays
    std::vector<char> diskBuffer;

    bool inlineIo() const { return !backend->realTime(); }
    // Milliseconds are rounded to the nearest, so that a recording of 1.5 s reads 1500.
    qint32 ms(qint64 frames) const
    {
        if (format.rate <= 0)
            return 0;
        return qint32(std::min<qint64>((frames * 2000 + format.rate) / (2 * qint64(format.rate)), 0x7FFFFFFF));
    }
    // The first frame that reads as msValue, so that ms(framesAt(x)) == x.
    qint64 framesAt(qint64 msValue) const
    {
        if (msValue <= 0)
            return 0;
        return ((2 * msValue - 1) * format.rate + 1999) / 2000;
    }

    void setFault(quint32 code)
    {
        if (fault.code == 0) {
            fault.code = code;
            fault.text = errorText(code);
        }
    }

    // Real-time thread (or the caller's, with a fake backend).
    bool captured(const void *data, qint64 frames) override
    {
        if (ioFailed.load(std::memory_order_relaxed))
            return !inlineIo();
        if (inlineIo()) {
            const qint64 off = WavHeaderWriter::kSpoolHeaderSize + spoolDataBytes.load();
            qint64 written = 0;
            const bool ok = writeAllAt(spoolFd, data, frames * bpf, off, &written);
            const qint64 whole = written / bpf;
            spoolDataBytes += whole * bpf;
            totalFrames += whole;
            framesSinceSync += whole;
            if (!ok) {
                ioFailCode = MCIERR_FILE_WRITE;
                ioFailed = true;
                return false;
            }
            if (framesSinceSync >= format.rate) {
                syncSpool();
                framesSinceSync = 0;
            }
            return true;
        }
        const qint64 fit = std::min<qint64>(frames, qint64(ring->writable()) / bpf);
        ring->write(data, size_t(fit * bpf));
        totalFrames.fetch_add(fit, std::memory_order_release);
        if (fit < frames)
            droppedFrames.fetch_add(frames - fit, std::memory_order_relaxed);
        return true;
    }

    // Real-time thread (or the caller's, with a fake backend).
    qint64 render(void *data, qint64 frames) override
    {
        const qint64 at = handedFrames.load(std::memory_order_relaxed);
        if (inlineIo()) {
            const qint64 n = std::min(frames, playEndFrame - at);
            if (n <= 0)
                return 0;
            const qint64 got = readAt(spoolFd, data, n * bpf, WavHeaderWriter::kSpoolHeaderSize + at * bpf) / bpf;
            handedFrames.store(at + got);
            if (got < n) {
                ioFailCode = MCIERR_FILE_READ;
                ioFailed = true;
            }
            return got;
        }
        const bool eof = playEof.load(std::memory_order_acquire);
        const qint64 got = qint64(ring->read(data, size_t(frames * bpf))) / bpf;
        handedFrames.store(at + got, std::memory_order_release);
        if (got < frames && !eof) {
            // The disk fell behind: play silence for now rather than end early.
            std::memset(static_cast<char *>(data) + got * bpf, format.bits == 8 ? 0x80 : 0,
                        size_t((frames - got) * bpf));
            return frames;
        }
        return got;
    }

    // Rewrites the spool header's sizes and makes the samples durable, so that a recording
    // survives a crash of the program or the machine.
    void syncSpool()
    {
        const QByteArray h = WavHeaderWriter(format).spoolHeader(spoolDataBytes.load());
        writeAllAt(spoolFd, h.constData(), h.size(), 0);
        ::fdatasync(spoolFd);
    }

    bool ensureSpool()
    {
        if (spoolFd >= 0)
            return true;
        if (!QDir().mkpath(spoolDir))
            return false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString path = QDir(spoolDir).filePath(
                QStringLiteral("spool-%1-%2.wav").arg(::getpid()).arg(g_spoolCounter.fetch_add(1)));
            const int fd = ::open(QFile::encodeName(path).constData(),
                                  O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0) {
                if (errno == EEXIST)
                    continue;
                return false;
            }
            // Held for the spool's life: a running copy's spool is never taken for an orphan.
            ::flock(fd, LOCK_EX | LOCK_NB);
            spoolFd = fd;
            spoolPath = path;
            spoolDataBytes = 0;
            const QByteArray h = WavHeaderWriter(format).spoolHeader(0);
            if (!writeAllAt(fd, h.constData(), h.size(), 0)) {
                discardSpool();
                return false;
            }
            return true;
        }
        return false;
    }

    void discardSpool()
    {
        if (spoolFd >= 0) {
            ::close(spoolFd);
            ::unlink(QFile::encodeName(spoolPath).constData());
        }
        spoolFd = -1;
        spoolPath.clear();
        spoolDataBytes = 0;
    }

    // --- the disk thread ---------------------------------------------------------------

    void startDiskThread()
    {
        if (disk.joinable())
            return;
        if (!ring) {
            // Eight seconds of the widest format, so a stalled disk does not lose audio at once.
            ring = std::make_unique<SpscRing>(size_t(std::max(2 << 20, format.rate * bpf * 8)));
        }
        diskBuffer.resize(1 << 18);
        quit = false;
        disk = std::thread([this] { diskLoop(); });
    }

    void stopDiskThread()
    {
        if (!disk.joinable())
            return;
        {
            std::lock_guard lock(diskMutex);
            quit = true;
            ++requestSeq;
        }
        diskWake.notify_all();
        disk.join();
    }

    // Hands the disk thread a job and waits until it has taken it up (with a flush: until
    // everything the ring held has reached the spool and the spool's header is current).
    void diskRequest(Job newJob, bool flush)
    {
        std::unique_lock lock(diskMutex);
        job = newJob;
        flushRequested = flushRequested || flush;
        const quint64 seq = ++requestSeq;
        diskWake.notify_all();
        diskDone.wait(lock, [&] { return doneSeq >= seq; });
    }

    void diskLoop()
    {
        auto lastSync = Clock::now();
        Job lastJob = Job::None;
        auto jobSince = Clock::now();
        std::unique_lock lock(diskMutex);
        while (!quit) {
            const auto asked = [&] { return quit || requestSeq != doneSeq; };
            // Idle between streams: sleep until asked, so an open device costs no wake-ups.
            if (job != lastJob) {
                lastJob = job;
                jobSince = Clock::now();
            }
            if (job == Job::None) {
                diskWake.wait(lock, asked);
            } else {
                // The rings hold 8 s: a quarter-second rhythm keeps wake-ups (and CPU) low. The
                // first second of a stream is served briskly, so a recording reaches the disk
                // (and playback its ring) at once.
                const bool starting = Clock::now() - jobSince < std::chrono::seconds(1);
                diskWake.wait_for(lock, std::chrono::milliseconds(starting ? 10 : 250), asked);
            }
            if (quit)
                break;
            const Job current = job;
            const bool flush = flushRequested;
            const quint64 seq = requestSeq;
            lock.unlock();
            if (current == Job::Record) {
                drainRing();
                if (flush || Clock::now() - lastSync >= std::chrono::seconds(1)) {
                    if (!ioFailed)
                        syncSpool();
                    lastSync = Clock::now();
                }
            } else if (current == Job::Play) {
                fillRing();
            }
            lock.lock();
            if (flush)
                flushRequested = false;
            doneSeq = seq;
            diskDone.notify_all();
        }
        doneSeq = requestSeq;
        diskDone.notify_all();
    }

    void drainRing()
    {
        for (;;) {
            const size_t n = ring->read(diskBuffer.data(), diskBuffer.size());
            if (n == 0)
                return;
            if (ioFailed)
                continue;  // the spool is full: keep the ring moving, keep what is on disk
            const qint64 off = WavHeaderWriter::kSpoolHeaderSize + spoolDataBytes.load();
            qint64 written = 0;
            const bool ok = writeAllAt(spoolFd, diskBuffer.data(), qint64(n), off, &written);
            spoolDataBytes += written - written % bpf;
            if (!ok) {
                ioFailCode = MCIERR_FILE_WRITE;
                ioFailed = true;
            }
        }
    }

    void fillRing()
    {
        const qint64 end = WavHeaderWriter::kSpoolHeaderSize + playEndFrame * bpf;
        while (!playEof) {
            qint64 room = qint64(std::min(ring->writable(), diskBuffer.size()));
            room -= room % bpf;
            const qint64 want = std::min(room, end - playReadByte);
            if (want <= 0) {
                if (playReadByte >= end)
                    playEof.store(true, std::memory_order_release);
                return;
            }
            qint64 got = readAt(spoolFd, diskBuffer.data(), want, playReadByte);
            got -= got % bpf;
            if (got <= 0) {
                ioFailCode = MCIERR_FILE_READ;
                ioFailed = true;
                playEof.store(true, std::memory_order_release);
                return;
            }
            ring->write(diskBuffer.data(), size_t(got));
            playReadByte += got;
        }
    }

    // --- transport (UI thread) ---------------------------------------------------------

    qint64 playPosition()
    {
        if (backend->state() == StreamState::Completed)
            return playEndFrame;
        const qint64 heard = handedFrames.load(std::memory_order_acquire) - backend->outputLatencyFrames();
        return std::clamp(heard, playStartFrame, playEndFrame);
    }

    void endPlayback(bool completed)
    {
        const qint64 at = completed ? playEndFrame : playPosition();
        backend->stop(false);
        if (disk.joinable())
            diskRequest(Job::None, false);
        posFrames = at;
        mode = ModeStopped;
        ioFailed = false;  // reported by the caller; the next Play tries again
    }

    void endRecording()
    {
        backend->stop(true);
        if (disk.joinable()) {
            diskRequest(Job::Record, true);
            diskRequest(Job::None, false);
        }
        if (ioFailed) {
            // Keep exactly what reached the disk.
            totalFrames = spoolDataBytes.load() / bpf;
            if (::ftruncate(spoolFd, WavHeaderWriter::kSpoolHeaderSize + spoolDataBytes.load()) != 0)
                qCWarning(lcAudio) << "could not trim the spool" << spoolPath;
        }
        if (spoolFd >= 0)
            syncSpool();
        posFrames = totalFrames;
        mode = ModeStopped;
        ioFailed = false;  // reported by the caller; the next Record tries again
    }

    void reportOverrun()
    {
        if (!overrunReported && droppedFrames.load() > 0) {
            overrunReported = true;
            qCWarning(lcAudio) << "capture overran the disk by" << droppedFrames.load() << "frames";
            setFault(MCIERR_WAVE_OVERRUN);
        }
    }

    // Takes note of what the running stream did by itself: end of playback, a broken stream,
    // a full disk.
    void poll()
    {
        if (mode == ModePlaying) {
            const StreamState st = backend->state();
            if (st == StreamState::Completed && !ioFailed) {
                endPlayback(true);
            } else if (st == StreamState::Failed || st == StreamState::Idle || ioFailed) {
                const quint32 code = ioFailed ? ioFailCode.load() : backend->failureCode();
                endPlayback(false);
                setFault(code ? code : MCIERR_HARDWARE);
            }
        } else if (mode == ModeRecording) {
            reportOverrun();
            const StreamState st = backend->state();
            if (st != StreamState::Running || ioFailed) {
                const quint32 code = ioFailed ? ioFailCode.load() : backend->failureCode();
                endRecording();
                setFault(code ? code : MCIERR_HARDWARE);
            }
        }
    }

    void stopActivity()
    {
        if (mode == ModePlaying)
            endPlayback(false);
        else if (mode == ModeRecording) {
            endRecording();
            reportOverrun();
        }
    }

    // Starts the backend's stream; a refusal stops the disk thread's job and becomes a fault.
    void startStream(AudioBackend::Direction direction, TMPModes running)
    {
        const quint32 rc = backend->start(direction, format, this);
        errorCode = rc;
        if (rc != 0) {
            if (disk.joinable())
                diskRequest(Job::None, false);
            setFault(rc);
            return;
        }
        mode = running;
    }

    void require()
    {
        if (!opened)
            raiseNoDevice();
    }

    void close(bool keepSpool = false)
    {
        stopActivity();
        stopDiskThread();
        ring.reset();
        if (keepSpool && spoolFd >= 0 && spoolDataBytes.load() > 0) {
            // Finalised by stopActivity(); left where the next start looks for orphans.
            ::close(spoolFd);
            spoolFd = -1;
            spoolPath.clear();
            spoolDataBytes = 0;
        }
        discardSpool();
        opened = false;
        deviceId = 0;
        mode = ModeStopped;
        posFrames = 0;
        totalFrames = 0;
    }

    // Writes the recording's first dataBytes bytes to path as a complete WAV file, or leaves
    // whatever was at path untouched. Returns 0 or an error code.
    quint32 saveTo(const QString &path, qint64 dataBytes)
    {
        return writeWavFile(path, format, spoolFd, WavHeaderWriter::kSpoolHeaderSize, dataBytes);
    }
};

TMediaPlayer::TMediaPlayer(std::unique_ptr<AudioBackend> backend, QString spoolDir)
    : d(std::make_unique<Impl>())
{
    d->backend = std::move(backend);
    d->spoolDir = std::move(spoolDir);
}

TMediaPlayer::~TMediaPlayer()
{
    Close();
}

void TMediaPlayer::Open()
{
    if (d->opened)
        d->close();

    WavInfo info;
    quint32 rc = readWavHeader(FileName, &info);
    if (rc == 0 && info.dataBytes > 0) {
        // A file that already holds sound: that sound is the recording to start from.
        d->format = info.format;
        d->bpf = info.format.bytesPerFrame();
        if (!d->ensureSpool()) {
            rc = MCIERR_SPOOL_CREATE;
        } else {
            const int in = ::open(QFile::encodeName(FileName).constData(), O_RDONLY | O_CLOEXEC);
            const bool ok = in >= 0 &&
                            copyRange(in, info.dataOffset, d->spoolFd, WavHeaderWriter::kSpoolHeaderSize,
                                      info.dataBytes);
            if (in >= 0)
                ::close(in);
            if (ok) {
                d->spoolDataBytes = info.dataBytes;
                d->syncSpool();
            } else {
                d->discardSpool();
                rc = MCIERR_FILE_READ;
            }
        }
    }
    d->errorCode = rc;
    if (rc != 0)
        throw EMCIDeviceError(errorText(rc));

    d->format = info.format;
    d->bpf = info.format.bytesPerFrame();
    d->totalFrames = info.dataBytes / d->bpf;
    d->posFrames = 0;
    d->mode = ModeStopped;
    d->ioFailed = false;
    d->ioFailCode = 0;
    d->droppedFrames = 0;
    d->overrunReported = false;
    d->opened = true;
    d->lastDeviceId = quint16(d->lastDeviceId + 1);
    if (d->lastDeviceId == 0)
        d->lastDeviceId = 1;
    d->deviceId = d->lastDeviceId;
}

void TMediaPlayer::Close()
{
    if (!d->opened)
        return;
    d->close();
    d->errorCode = 0;
}

void TMediaPlayer::KeepForRecovery()
{
    if (!d->opened)
        return;
    d->close(true);
    d->errorCode = 0;
}

void TMediaPlayer::Play()
{
    d->require();
    d->poll();
    if (d->mode == ModePlaying) {
        d->errorCode = 0;
        return;
    }
    d->stopActivity();
    if (d->ms(d->posFrames) == d->ms(d->totalFrames))
        d->posFrames = 0;
    const qint64 total = d->totalFrames;
    if (d->posFrames >= total) {
        d->errorCode = 0;  // nothing to play
        return;
    }
    d->playStartFrame = d->posFrames;
    d->playEndFrame = total;
    d->handedFrames = d->posFrames;
    d->playEof = false;
    if (!d->inlineIo()) {
        d->startDiskThread();
        d->ring->reset();
        d->playReadByte = WavHeaderWriter::kSpoolHeaderSize + d->posFrames * d->bpf;
        d->fillRing();  // the first second or more, before the first callback asks
        d->diskRequest(Impl::Job::Play, false);
    }
    d->startStream(AudioBackend::Direction::Playback, ModePlaying);
}

void TMediaPlayer::Record()
{
    d->require();
    d->poll();
    if (d->mode == ModeRecording) {
        d->errorCode = 0;
        return;
    }
    d->stopActivity();
    if (!d->ensureSpool()) {
        d->errorCode = MCIERR_SPOOL_CREATE;
        d->setFault(MCIERR_SPOOL_CREATE);
        return;
    }
    // A recording only grows at its end.
    d->posFrames = d->totalFrames;
    d->framesSinceSync = 0;
    if (!d->inlineIo()) {
        d->startDiskThread();
        d->ring->reset();
        d->diskRequest(Impl::Job::Record, false);
    }
    d->startStream(AudioBackend::Direction::Capture, ModeRecording);
}

void TMediaPlayer::Stop()
{
    d->require();
    d->poll();
    d->stopActivity();
    d->errorCode = 0;
}

void TMediaPlayer::Rewind()
{
    d->require();
    d->poll();
    d->stopActivity();
    d->posFrames = 0;
    d->errorCode = 0;
}

void TMediaPlayer::Seek(qint32 positionMs)
{
    d->require();
    d->poll();
    d->stopActivity();
    if (positionMs < 0 || positionMs > d->ms(d->totalFrames)) {
        d->errorCode = MCIERR_OUTOFRANGE;
        return;
    }
    d->posFrames = std::min<qint64>(d->framesAt(positionMs), d->totalFrames);
    d->errorCode = 0;
}

void TMediaPlayer::Save()
{
    d->require();
    if (FileName.isEmpty())
        return;
    d->poll();
    qint64 bytes = d->totalFrames * d->bpf;
    if (d->mode == ModeRecording) {
        // Everything captured up to now; capture goes on meanwhile.
        if (d->disk.joinable())
            d->diskRequest(Impl::Job::Record, true);
        bytes = d->spoolDataBytes;
    }
    if (bytes > 0 && d->spoolFd < 0)
        bytes = 0;
    d->errorCode = d->saveTo(FileName, bytes);
}

void TMediaPlayer::SetTimeFormat(quint8 format)
{
    if (!d->opened) {
        d->errorCode = MCIERR_INVALID_DEVICE_ID;
        return;
    }
    d->errorCode = format == 0 ? 0u : quint32(MCIERR_BAD_TIME_FORMAT);
}

qint32 TMediaPlayer::Position()
{
    if (!d->opened) {
        d->errorCode = MCIERR_INVALID_DEVICE_ID;
        return 0;
    }
    d->poll();
    d->errorCode = 0;
    switch (d->mode) {
    case ModeRecording:
        return d->ms(d->totalFrames);
    case ModePlaying:
        return d->ms(d->playPosition());
    default:
        return d->ms(d->posFrames);
    }
}

qint32 TMediaPlayer::Length()
{
    d->require();
    d->poll();
    d->errorCode = 0;
    return d->ms(d->totalFrames);
}

TMPModes TMediaPlayer::Mode()
{
    if (!d->opened) {
        d->errorCode = MCIERR_INVALID_DEVICE_ID;
        return ModeNotReady;
    }
    d->poll();
    d->errorCode = 0;
    return d->mode;
}

bool TMediaPlayer::Opened() const { return d->opened; }
quint16 TMediaPlayer::DeviceId() const { return d->deviceId; }
quint32 TMediaPlayer::ErrorCode() const { return d->errorCode; }

int TMediaPlayer::outputDeviceCount()
{
    return d->backend->outputDeviceCount();
}

DeviceFault TMediaPlayer::takeFault()
{
    if (d->opened)
        d->poll();
    DeviceFault f = d->fault;
    d->fault = DeviceFault{};
    return f;
}

AudioBackend &TMediaPlayer::backend() { return *d->backend; }

QString TMediaPlayer::spoolPath() const { return d->spoolPath; }
