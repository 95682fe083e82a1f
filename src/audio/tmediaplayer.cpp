// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tmediaplayer.h"

#include "audiobackend.h"
#include "spool.h"
#include "encoder.h"
#include "fileio.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <unistd.h>

EMCIDeviceError::EMCIDeviceError(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

namespace {

[[noreturn]] void raiseNoDevice()
{
    throw EMCIDeviceError(QStringLiteral("MCI デバイスがありません"));
}

} // namespace

struct TMediaPlayer::Impl : AudioStreamClient {
    std::unique_ptr<AudioBackend> backend;
    Spool spool;

    explicit Impl(QString spoolDir) : spool(std::move(spoolDir)) {}

    bool opened = false;
    quint16 deviceId = 0;
    quint16 lastDeviceId = 0;
    quint32 errorCode = 0;
    DeviceFault fault;
    quint64 stream = 0;       // counts the streams started, so a fault knows whose it is
    quint64 faultStream = 0;

    AudioFormat format;
    int bpf = 1;
    TMPModes mode = ModeStopped;
    qint64 posFrames = 0;        // the position while not playing
    qint64 playStartFrame = 0;
    qint64 playEndFrame = 0;
    qint64 playHeard = 0;  // the furthest position this playback has shown
    bool overrunReported = false;  // for the take being recorded
    qint64 takeStartFrame = 0;     // where the take being recorded began
    QString savedAs;               // the last Save's file, or why it failed
    QString saveReason;

    // Shared with the stream callbacks.
    std::atomic<qint64> totalFrames{0};   // the recording's length, growing during capture
    std::atomic<qint64> handedFrames{0};  // playback: the frame after the last one handed out

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
            faultStream = stream;
        }
    }

    // The backend's thread (or the caller's, with a backend that is not real-time).
    bool captured(const void *data, qint64 frames) override
    {
        const qint64 taken = spool.write(data, frames);
        if (taken < 0)
            return false;
        totalFrames.fetch_add(taken, std::memory_order_release);
        return true;
    }

    // The backend's thread: the disk thread takes the fragment at once.
    void capturedBatch() override { spool.kick(); }

    // The backend's thread (or the caller's, with a backend that is not real-time).
    qint64 render(void *data, qint64 frames) override
    {
        qint64 real = 0;
        const qint64 got = spool.read(data, frames, &real);
        handedFrames.fetch_add(real, std::memory_order_release);
        return got;
    }

    // --- transport (UI thread) ---------------------------------------------------------

    // The recording's length as the clock sees it. Audio comes in fragments of a quarter
    // second; the stream's clock says how much of it has been taken in, and Stop keeps all
    // of that, so the length shown moves smoothly and is what a stop will keep.
    qint64 recordedFrames()
    {
        const qint64 have = totalFrames.load(std::memory_order_acquire);
        if (mode != ModeRecording)
            return have;
        const qint64 now = backend->capturedFramesNow();
        if (now < 0)
            return have;
        return std::clamp(takeStartFrame + now, have, have + format.rate);
    }

    qint64 playPosition()
    {
        if (backend->state() == StreamState::Completed)
            return playEndFrame;
        // The frames handed out and the backend's latency are read one after the other while
        // the backend's thread goes on handing out: a pair read across a hand-over would put
        // the position back by a fragment. What was heard never goes back.
        const qint64 heard = handedFrames.load(std::memory_order_acquire) - backend->outputLatencyFrames();
        playHeard = std::max(playHeard, std::clamp(heard, playStartFrame, playEndFrame));
        return playHeard;
    }

    void endPlayback(bool completed)
    {
        const qint64 at = completed ? playEndFrame : playPosition();
        backend->stop(false);
        spool.endPlayback();
        posFrames = at;
        mode = ModeStopped;
    }

    // Ends the take; whatever went wrong in it, up to its last byte, becomes the fault.
    void endRecording()
    {
        backend->stop(true);
        quint32 code = spool.endCapture();
        // The stream can break off while Stop waits for its tail; the take then lacks it.
        if (backend->state() == StreamState::Failed && (code == 0 || code == MCIERR_WAVE_OVERRUN))
            code = backend->failureCode() ? backend->failureCode() : MCIERR_HARDWARE;
        if (code != 0 && code != MCIERR_WAVE_OVERRUN)
            totalFrames = spool.dataBytes() / bpf;  // exactly what reached the disk
        posFrames = totalFrames;
        mode = ModeStopped;
        if (code == MCIERR_WAVE_OVERRUN)
            reportOverrun();
        else if (code != 0)
            setFault(code);
    }

    void reportOverrun()
    {
        if (!overrunReported && spool.droppedFrames() > 0) {
            overrunReported = true;
            qCWarning(lcAudio) << "capture overran the disk by" << spool.droppedFrames() << "frames";
            setFault(MCIERR_WAVE_OVERRUN);
        }
    }

    // Takes note of what the running stream did by itself: end of playback, a broken stream,
    // a full disk.
    void poll()
    {
        if (mode == ModePlaying) {
            const StreamState st = backend->state();
            const quint32 fileFault = spool.pendingFault();
            if (st == StreamState::Completed && fileFault == 0) {
                endPlayback(true);
            } else if (st == StreamState::Failed || st == StreamState::Idle || fileFault != 0) {
                const quint32 code = fileFault ? fileFault : backend->failureCode();
                endPlayback(false);
                setFault(code ? code : MCIERR_HARDWARE);
            }
        } else if (mode == ModeRecording) {
            reportOverrun();
            const StreamState st = backend->state();
            const quint32 fileFault = spool.pendingFault();
            if (st != StreamState::Running || (fileFault != 0 && fileFault != MCIERR_WAVE_OVERRUN)) {
                const quint32 code = backend->failureCode();
                endRecording();
                setFault(code ? code : MCIERR_HARDWARE);
            }
        }
    }

    void stopActivity()
    {
        if (mode == ModePlaying)
            endPlayback(false);
        else if (mode == ModeRecording)
            endRecording();
    }

    // Starts the backend's stream; a refusal ends the spool's side and becomes a fault.
    void startStream(AudioBackend::Direction direction, TMPModes running)
    {
        const quint32 rc = backend->start(direction, format, this);
        errorCode = rc;
        if (rc != 0) {
            if (direction == AudioBackend::Direction::Capture)
                spool.endCapture();
            else
                spool.endPlayback();
            setFault(rc);
            return;
        }
        mode = running;
    }

    // A new stream: a fault left from an earlier one is still told, but no longer stops
    // anything.
    void beginStream()
    {
        ++stream;
    }

    void require()
    {
        if (!opened)
            raiseNoDevice();
    }

    void close(bool keepSpool = false)
    {
        stopActivity();
        if (keepSpool && spool.isOpen() && spool.dataBytes() > 0)
            spool.keep();  // finalised by stopActivity(); the next start recovers it
        spool.discard();
        opened = false;
        deviceId = 0;
        mode = ModeStopped;
        posFrames = 0;
        totalFrames = 0;
    }
};

TMediaPlayer::TMediaPlayer(std::unique_ptr<AudioBackend> backend, QString spoolDir)
    : d(std::make_unique<Impl>(std::move(spoolDir)))
{
    d->backend = std::move(backend);
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
        if (!d->spool.create(info.format)) {
            rc = MCIERR_SPOOL_CREATE;
        } else {
            const int in = openRegularFile(FileName);
            const bool ok = in >= 0 && d->spool.import(in, info.dataOffset, info.dataBytes);
            if (in >= 0)
                ::close(in);
            if (!ok) {
                d->spool.discard();
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
    d->beginStream();
    d->playStartFrame = d->posFrames;
    d->playHeard = d->posFrames;
    d->playEndFrame = total;
    d->handedFrames = d->posFrames;
    d->spool.beginPlayback(d->posFrames, total, !d->inlineIo());
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
    d->beginStream();
    if (!d->spool.create(d->format)) {
        d->errorCode = MCIERR_SPOOL_CREATE;
        d->setFault(MCIERR_SPOOL_CREATE);
        return;
    }
    // What is recorded now is saved nowhere yet: recovery must find it again.
    if (!d->spool.setSaved(false)) {
        d->errorCode = MCIERR_FILE_WRITE;
        d->setFault(MCIERR_FILE_WRITE);
        return;
    }
    // A recording only grows at its end.
    d->posFrames = d->totalFrames;
    d->takeStartFrame = d->totalFrames;
    d->overrunReported = false;
    d->spool.beginCapture(!d->inlineIo());
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

void TMediaPlayer::Save(AtomicFile::Mode mode)
{
    d->require();
    d->savedAs.clear();
    d->saveReason.clear();
    if (FileName.isEmpty())
        return;
    d->poll();
    qint64 bytes = d->totalFrames * d->bpf;
    if (d->mode == ModeRecording) {
        // Everything captured up to now; capture goes on meanwhile.
        d->spool.flush();
        bytes = d->spool.dataBytes();
    }
    if (!d->spool.isOpen())
        bytes = 0;
    d->errorCode = writeWavFile(FileName, d->format, d->spool.fd(), WavHeaderWriter::kSpoolHeaderSize, bytes,
                                mode, &d->saveReason, &d->savedAs);
}

QString TMediaPlayer::SavedAs() const { return d->savedAs; }
QString TMediaPlayer::SaveReason() const { return d->saveReason; }

SaveSource TMediaPlayer::saveSource()
{
    d->require();
    d->poll();
    qint64 bytes = d->totalFrames * d->bpf;
    if (d->mode == ModeRecording) {
        // Everything captured up to now; capture goes on meanwhile.
        d->spool.flush();
        bytes = d->spool.dataBytes();
    }
    SaveSource source;
    source.format = d->format;
    source.offset = WavHeaderWriter::kSpoolHeaderSize;
    if (d->spool.isOpen() && bytes > 0) {
        source.fd = ::fcntl(d->spool.fd(), F_DUPFD_CLOEXEC, 0);
        source.bytes = bytes;
    }
    d->errorCode = source.bytes > 0 && source.fd < 0 ? quint32(MCIERR_OUT_OF_MEMORY) : 0u;
    return source;
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
        return d->ms(d->recordedFrames());
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
    return d->ms(d->recordedFrames());
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
    f.earlierStream = f.code != 0 && d->faultStream != d->stream;
    d->fault = DeviceFault{};
    return f;
}

AudioBackend &TMediaPlayer::backend() { return *d->backend; }

QString TMediaPlayer::spoolPath() const { return d->spool.path(); }

qint64 TMediaPlayer::DataBytes() const { return d->totalFrames.load() * d->bpf; }

void TMediaPlayer::MarkSaved()
{
    if (d->opened && d->mode != ModeRecording && !d->spool.setSaved(true))
        qCWarning(lcAudio) << "the saved take could not be marked; a crash now would recover it again";
}
