// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "encoder.h"

#include "atomicfile.h"
#include "fileio.h"
#include "deviceerror.h"
#include "wavfile.h"

#include <QFileInfo>
#include <QSysInfo>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <vector>

namespace {

// libsndfile writes through these, so every failed write is seen here with its errno (the
// library itself may only notice at sf_close, or not at all for the last frame).
struct Sink {
    int fd = -1;
    sf_count_t pos = 0;
    sf_count_t size = 0;
    int error = 0;
};

sf_count_t sinkLength(void *user) { return static_cast<Sink *>(user)->size; }
sf_count_t sinkSeek(sf_count_t offset, int whence, void *user)
{
    auto *s = static_cast<Sink *>(user);
    const sf_count_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->size : 0;
    s->pos = std::max<sf_count_t>(0, base + offset);
    return s->pos;
}
sf_count_t sinkRead(void *ptr, sf_count_t count, void *user)
{
    auto *s = static_cast<Sink *>(user);
    const qint64 got = readAt(s->fd, ptr, count, s->pos);
    s->pos += got;
    return got;
}
sf_count_t sinkWrite(const void *ptr, sf_count_t count, void *user)
{
    auto *s = static_cast<Sink *>(user);
    if (s->error)
        return 0;
    qint64 written = 0;
    if (!writeAllAt(s->fd, ptr, count, s->pos, &written))
        s->error = errno ? errno : EIO;
    s->pos += written;
    s->size = std::max(s->size, s->pos);
    return written;
}
sf_count_t sinkTell(void *user) { return static_cast<Sink *>(user)->pos; }

SaveResult failed(quint32 code, const QString &reason)
{
    SaveResult r;
    r.code = code;
    r.reason = reason;
    if (r.reason.isEmpty())
        mciGetErrorString(code, &r.reason);
    return r;
}

SaveResult cancelledResult()
{
    SaveResult r;
    r.cancelled = true;
    return r;
}

bool isCancelled(const std::atomic<bool> *cancel) { return cancel && cancel->load(); }

// Hands what is written to write-back as it goes, so the final fsync finds little left.
void writeBehind(int fd, qint64 &synced, qint64 upTo)
{
    constexpr qint64 kStep = 8LL << 20;
    if (upTo - synced >= kStep) {
        ::sync_file_range(fd, synced, upTo - synced, SYNC_FILE_RANGE_WRITE);
        synced = upTo;
    }
}

SaveResult writeFailed(AtomicFile &file, int err)
{
    const quint32 code = file.failWrite(err ? err : EIO);
    return failed(code, file.reason());
}

SaveResult writeWav(AtomicFile &file, const SaveSource &src, const std::atomic<bool> *cancel,
                    std::atomic<qint64> *done)
{
    const int fd = file.fd();
    const QByteArray header = WavHeaderWriter(src.format).header(src.bytes);
    if (!writeAllAt(fd, header.constData(), header.size(), 0))
        return writeFailed(file, errno);
    constexpr qint64 kPiece = 4LL << 20;
    for (qint64 at = 0; at < src.bytes; at += kPiece) {
        if (isCancelled(cancel))
            return cancelledResult();
        const qint64 n = std::min(kPiece, src.bytes - at);
        errno = 0;
        if (!copyRange(src.fd, src.offset + at, fd, header.size() + at, n))
            return writeFailed(file, errno);
        ::sync_file_range(fd, header.size() + at, n, SYNC_FILE_RANGE_WRITE);
        if (done)
            *done = at + n;
    }
    if (src.bytes & 1) {
        const char pad = 0;
        if (!writeAllAt(fd, &pad, 1, header.size() + src.bytes))
            return writeFailed(file, errno);
    }
    return {};
}

SaveResult writeEncoded(AtomicFile &file, SaveFormat format, const SaveSource &src,
                        const std::atomic<bool> *cancel, std::atomic<qint64> *done)
{
    const int fd = file.fd();
    const AudioFormat &af = src.format;
    SF_INFO info{};
    info.samplerate = af.rate;
    info.channels = af.channels;
    info.format = format == SaveFormat::Flac
                      ? SF_FORMAT_FLAC | (af.bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16)
                      : SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    const int bpf = af.bytesPerFrame();
    if (bpf <= 0 || (af.bits != 8 && af.bits != 16) || !sf_format_check(&info))
        return failed(MCIERR_FILE_NOT_SAVED, QStringLiteral("この形式では保存できません。"));

    Sink sink;
    sink.fd = fd;
    SF_VIRTUAL_IO io{sinkLength, sinkSeek, sinkRead, sinkWrite, sinkTell};
    SNDFILE *sf = sf_open_virtual(&io, SFM_WRITE, &info, &sink);
    if (!sf)
        return failed(MCIERR_FILE_NOT_SAVED, QStringLiteral("この形式では保存できません（%1）。")
                                                 .arg(QString::fromUtf8(sf_strerror(nullptr))));
    if (format == SaveFormat::Vorbis) {
        double level = 1.0 - kVorbisQuality;  // libsndfile's scale runs the other way
        sf_command(sf, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    }

    // Vorbis moves its unread input down after every block it takes out, so it wants the
    // input in small pieces, as oggenc gives it; FLAC buffers by itself.
    const qint64 frames = format == SaveFormat::Vorbis ? 1024 : 1 << 16;
    std::vector<unsigned char> raw(size_t(frames * bpf));
    std::vector<short> samples(size_t(frames * af.channels));
    SaveResult result;
    qint64 synced = 0;
    const qint64 total = src.bytes - src.bytes % bpf;
    for (qint64 at = 0; at < total && !result.code; ) {
        if (isCancelled(cancel)) {
            sf_close(sf);
            return cancelledResult();
        }
        const qint64 want = std::min<qint64>(qint64(raw.size()), total - at);
        const bool direct = af.bits == 16 && QSysInfo::ByteOrder == QSysInfo::LittleEndian;
        void *into = direct ? static_cast<void *>(samples.data()) : raw.data();
        if (readAt(src.fd, into, want, src.offset + at) != want) {
            result = failed(MCIERR_FILE_READ, QStringLiteral("録音を読み出せません。"));
            break;
        }
        const qint64 n = want / (af.bits / 8);
        if (af.bits == 8) {
            // WAV's 8-bit samples are unsigned; libsndfile keeps the top byte of a short.
            for (qint64 i = 0; i < n; ++i)
                samples[size_t(i)] = short((int(raw[size_t(i)]) - 128) * 256);
        } else if (!direct) {
            for (qint64 i = 0; i < n; ++i)
                samples[size_t(i)] = short(raw[size_t(2 * i)] | (raw[size_t(2 * i + 1)] << 8));
        }
        const sf_count_t got = want / bpf;
        if (sf_writef_short(sf, samples.data(), got) != got || sink.error)
            result = writeFailed(file, sink.error);
        at += want;
        if (done)
            *done = at;
        writeBehind(fd, synced, sink.size);
    }
    const int closeError = sf_close(sf);
    if (!result.code && (sink.error || closeError))
        result = writeFailed(file, sink.error);
    return result;
}

} // namespace

SaveFormat saveFormatFor(const QString &path, int filterIndex)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("wav"))
        return SaveFormat::Wav;
    if (ext == QLatin1String("flac"))
        return SaveFormat::Flac;
    if (ext == QLatin1String("ogg"))
        return SaveFormat::Vorbis;
    switch (filterIndex) {
    case 2: return SaveFormat::Flac;
    case 3: return SaveFormat::Vorbis;
    default: return SaveFormat::Wav;
    }
}

SaveResult encodeTake(const QString &path, SaveFormat format, const SaveSource &source,
                      const std::atomic<bool> *cancel, std::atomic<qint64> *done)
{
    if (source.bytes > 0 && source.fd < 0)
        return failed(MCIERR_FILE_READ, QStringLiteral("録音を読み出せません。"));
    // A read-only file, a symbolic link and an existing file's mode follow the rules of every
    // save the user asks for.
    AtomicFile file(path);
    if (const quint32 rc = file.open())
        return failed(rc, file.reason());
    SaveResult r = format == SaveFormat::Wav ? writeWav(file, source, cancel, done)
                                             : writeEncoded(file, format, source, cancel, done);
    if (r.code || r.cancelled)
        return r;  // the temporary file goes with `file`
    if (isCancelled(cancel))
        return cancelledResult();
    if (const quint32 rc = file.commit())
        return failed(rc, file.reason());
    return {};
}

SaveJob::SaveJob(QString path, SaveFormat format, SaveSource source) : m_source(source)
{
    m_thread = std::thread([this, path = std::move(path), format] {
        m_result = encodeTake(path, format, m_source, &m_cancel, &m_done);
        m_finished = true;
    });
}

SaveJob::~SaveJob()
{
    cancel();
    if (m_thread.joinable())
        m_thread.join();
    if (m_source.fd >= 0)
        ::close(m_source.fd);
}

int SaveJob::percent() const
{
    return m_source.bytes > 0 ? int(m_done.load() * 100 / m_source.bytes) : 100;
}

SaveResult SaveJob::wait()
{
    if (m_thread.joinable())
        m_thread.join();
    return m_result;
}
