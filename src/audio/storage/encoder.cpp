// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "encoder.h"

#include "atomicfile.h"
#include "fileio.h"
#include "deviceerror.h"
#include "wavfile.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSysInfo>

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// libsndfile writes through these, so every failed write is seen here with its errno (the
// library itself may only notice at sf_close, or not at all for the last frame). libsndfile
// sees the file from base on: an MP3's ID3 tag goes before it.
struct Sink {
    int fd = -1;
    sf_count_t base = 0;
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
    const qint64 got = readAt(s->fd, ptr, count, s->base + s->pos);
    s->pos += got;
    return got;
}
sf_count_t sinkWrite(const void *ptr, sf_count_t count, void *user)
{
    auto *s = static_cast<Sink *>(user);
    if (s->error)
        return 0;
    qint64 written = 0;
    if (!writeAllAt(s->fd, ptr, count, s->base + s->pos, &written))
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

// How far a save has come, for the progress shown and for whoever asked to follow it.
struct Progress {
    const std::atomic<bool> *cancel;
    std::atomic<qint64> *done;
    const std::function<void(qint64)> &step;
    void operator()(qint64 at) const
    {
        if (done)
            *done = at;
        if (step)
            step(at);
    }
    bool cancelled() const { return isCancelled(cancel); }
};

SaveResult writeWav(AtomicFile &file, const SaveSource &src, const Progress &progress)
{
    const quint32 rc = writeWavData(file, src.format, src.fd, src.offset, src.bytes, [&](qint64 at) {
        progress(at);
        return !progress.cancelled();
    });
    if (rc == kWavWriteCancelled)
        return cancelledResult();
    return rc ? failed(rc, file.reason()) : SaveResult{};
}

// When the take began: the spool is made at the take's first Record. A file system without
// birth times gives the last write instead.
QDateTime recordedAt(int fd)
{
    struct statx st {};
    if (fd >= 0 && ::statx(fd, "", AT_EMPTY_PATH, STATX_BTIME | STATX_MTIME, &st) == 0) {
        const statx_timestamp &t = (st.stx_mask & STATX_BTIME) ? st.stx_btime : st.stx_mtime;
        return QDateTime::fromSecsSinceEpoch(qint64(t.tv_sec));
    }
    return QDateTime::currentDateTime();
}

QByteArray syncSafe(quint32 n)
{
    QByteArray b;
    for (int shift = 21; shift >= 0; shift -= 7)
        b.append(char((n >> shift) & 0x7F));
    return b;
}

// libsndfile's MP3 writer has no field for the software, so the ID3v2.4 tag is written here:
// TSSE (the encoding software) and TDRC (the recording time), in UTF-8.
QByteArray id3Tag(const QDateTime &when)
{
    const auto frame = [](const char *id, const QByteArray &text) {
        const QByteArray body = char(3) + text;
        return QByteArray(id) + syncSafe(quint32(body.size())) + QByteArray(2, '\0') + body;
    };
    const QByteArray frames = frame("TSSE", "Tavrin") +
                              frame("TDRC", when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toUtf8());
    return QByteArray("ID3\x04\x00\x00", 6) + syncSafe(quint32(frames.size())) + frames;
}

SaveResult cannotEncode(const char *why = nullptr)
{
    return failed(MCIERR_FILE_NOT_SAVED,
                  why ? QStringLiteral("この形式では保存できません（%1）。").arg(QString::fromUtf8(why))
                      : QStringLiteral("この形式では保存できません。"));
}

// The encoder's quality, the original rate and the tags, before the first sample.
bool configure(SNDFILE *sf, SaveFormat format, const AudioFormat &af, const QDateTime &when)
{
    bool set = true;
    if (format == SaveFormat::Vorbis) {
        double level = 1.0 - kVorbisQuality;  // libsndfile's scale runs the other way
        set = sf_command(sf, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    } else if (format == SaveFormat::Mp3) {
        // The mode first: it re-reads the level, which is not set yet and so refused.
        int mode = SF_BITRATE_MODE_VARIABLE;
        sf_command(sf, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        double level = kMp3VbrQuality / 10.0;
        set = sf_command(sf, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    } else if (format == SaveFormat::Opus) {
        // libsndfile's level maps linearly onto 6-256 kb/s a channel; it truncates to whole b/s.
        const double perChannel = double(opusBitrateFor(af.rate, af.channels)) / af.channels;
        double level = 1.0 - (perChannel - 6000.0 + 0.5) / 250000.0;
        int original = af.rate;
        set = sf_command(sf, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level) &&
              sf_command(sf, SFC_SET_ORIGINAL_SAMPLERATE, &original, sizeof original);
    }
    if (format == SaveFormat::Mp3)
        return set;  // its tag is written apart
    const QByteArray date = when.toString(Qt::ISODate).toUtf8();
    return set && sf_set_string(sf, SF_STR_SOFTWARE, "Tavrin") == 0 &&
           sf_set_string(sf, SF_STR_DATE, date.constData()) == 0;
}

// The take resampled to the Opus rate on its way to libsndfile, cut or padded at the end to
// the length at the new rate, to the nearest frame (soxr's own rounding differs).
class OpusFeed {
public:
    OpusFeed(SNDFILE *sf, const AudioFormat &af, int rate, qint64 pieceFrames, qint64 takeFrames)
        : m_sf(sf), m_channels(af.channels), m_room(pieceFrames * rate / af.rate + 64),
          m_out(size_t(m_room * af.channels)), m_left((takeFrames * rate + af.rate / 2) / af.rate)
    {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        soxr_error_t error = nullptr;
        m_soxr.reset(soxr_create(af.rate, rate, unsigned(af.channels), &error, &io, &quality, nullptr));
        if (error)
            m_soxr.reset();
    }
    bool valid() const { return bool(m_soxr); }

    // All of in, or with in null, what the resampler still holds and the padding.
    bool write(const short *in, qint64 frames)
    {
        for (;;) {
            size_t used = 0, made = 0;
            if (soxr_process(m_soxr.get(), in, size_t(frames), &used, m_out.data(), size_t(m_room), &made) ||
                !put(qint64(made)))
                return false;
            if (in) {
                in += used * size_t(m_channels);
                frames -= qint64(used);
                if (frames <= 0 && made < size_t(m_room))
                    return true;
            } else if (made == 0) {
                std::fill(m_out.begin(), m_out.end(), 0.0f);
                while (m_left > 0)
                    if (!put(m_room))
                        return false;
                return true;
            }
        }
    }

private:
    bool put(qint64 n)
    {
        n = std::min(n, m_left);
        m_left -= n;
        return n <= 0 || sf_writef_float(m_sf, m_out.data(), n) == n;
    }

    struct SoxrDeleter {
        void operator()(soxr *s) const { soxr_delete(s); }
    };
    SNDFILE *m_sf;
    int m_channels;
    qint64 m_room;
    std::vector<float> m_out;
    qint64 m_left;
    std::unique_ptr<soxr, SoxrDeleter> m_soxr;
};

SaveResult writeEncoded(AtomicFile &file, SaveFormat format, const SaveSource &src,
                        const Progress &progress)
{
    const int fd = file.fd();
    const AudioFormat &af = src.format;
    const int bpf = af.bytesPerFrame();
    if (bpf <= 0 || (af.bits != 8 && af.bits != 16))
        return cannotEncode();
    // libsndfile ends a FLAC, MP3 or Opus file with no samples as a file no decoder opens.
    if (src.bytes < bpf && format != SaveFormat::Vorbis)
        return failed(MCIERR_FILE_NOT_SAVED, QStringLiteral("録音が空なので、この形式では保存できません。"));
    SF_INFO info{};
    info.samplerate = format == SaveFormat::Opus ? opusRateFor(af.rate) : af.rate;
    info.channels = af.channels;
    switch (format) {
    case SaveFormat::Flac:
        info.format = SF_FORMAT_FLAC | (af.bits == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
        break;
    case SaveFormat::Mp3:
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
        break;
    case SaveFormat::Opus:
        info.format = SF_FORMAT_OGG | SF_FORMAT_OPUS;
        break;
    default:
        info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
        break;
    }
    if (!sf_format_check(&info))
        return cannotEncode();

    const QDateTime when = recordedAt(src.fd);
    Sink sink;
    sink.fd = fd;
    if (format == SaveFormat::Mp3) {
        const QByteArray tag = id3Tag(when);
        if (!writeAllAt(fd, tag.constData(), tag.size(), 0))
            return writeFailed(file, errno);
        sink.base = tag.size();
    }
    SF_VIRTUAL_IO io{sinkLength, sinkSeek, sinkRead, sinkWrite, sinkTell};
    SNDFILE *sf = sf_open_virtual(&io, SFM_WRITE, &info, &sink);
    if (!sf)
        return sink.error ? writeFailed(file, sink.error) : cannotEncode(sf_strerror(nullptr));
    bool set = configure(sf, format, af, when);

    // Vorbis moves its unread input down after every block it takes out, so it wants the
    // input in small pieces, as oggenc gives it; the others buffer by themselves.
    const qint64 frames = format == SaveFormat::Vorbis ? 1024 : format == SaveFormat::Flac ? 1 << 16 : 4096;
    std::vector<unsigned char> raw(size_t(frames * bpf));
    std::vector<short> samples(size_t(frames * af.channels));
    // libsndfile 1.2's MP3 writer of stereo shorts passes on only half of each block: it gets
    // floats.
    std::vector<float> floats(format == SaveFormat::Mp3 ? samples.size() : 0);
    const qint64 total = src.bytes - src.bytes % bpf;
    std::unique_ptr<OpusFeed> opus;
    if (format == SaveFormat::Opus) {
        opus = std::make_unique<OpusFeed>(sf, af, info.samplerate, frames, total / bpf);
        set = opus->valid();
    }
    if (!set) {
        sf_close(sf);
        return cannotEncode();
    }
    SaveResult result;
    qint64 synced = 0;
    for (qint64 at = 0; at < total && !result.code; ) {
        if (progress.cancelled()) {
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
        bool ok = true;
        if (opus) {
            ok = opus->write(samples.data(), got);
        } else if (format == SaveFormat::Mp3) {
            for (qint64 i = 0; i < n; ++i)
                floats[size_t(i)] = float(samples[size_t(i)]) * (1.0f / 32768.0f);
            ok = sf_writef_float(sf, floats.data(), got) == got;
        } else {
            ok = sf_writef_short(sf, samples.data(), got) == got;
        }
        if (!ok || sink.error)
            result = writeFailed(file, sink.error);
        at += want;
        progress(at);
        writeBehind(fd, synced, sink.base + sink.size);
    }
    if (!result.code && opus && (!opus->write(nullptr, 0) || sink.error))
        result = writeFailed(file, sink.error);
    const int closeError = sf_close(sf);
    if (!result.code && (sink.error || closeError))
        result = writeFailed(file, sink.error);
    return result;
}

} // namespace

int opusRateFor(int rate)
{
    for (int r : {8000, 12000, 16000, 24000})
        if (rate <= r)
            return r;
    return 48000;
}

int opusBitrateFor(int rate, int channels)
{
    // Opus's full band needs 48 kHz; at 24 and 12 kHz it codes less of the spectrum.
    if (channels > 1)
        return rate > 24000 ? 96000 : rate > 12000 ? 64000 : 40000;
    return rate > 24000 ? 64000 : rate > 12000 ? 40000 : 24000;
}

SaveFormat saveFormatFor(const QString &path, int filterIndex)
{
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext == QLatin1String("wav"))
        return SaveFormat::Wav;
    if (ext == QLatin1String("flac"))
        return SaveFormat::Flac;
    if (ext == QLatin1String("ogg"))
        return SaveFormat::Vorbis;
    if (ext == QLatin1String("mp3"))
        return SaveFormat::Mp3;
    if (ext == QLatin1String("opus"))
        return SaveFormat::Opus;
    switch (filterIndex) {
    case 2: return SaveFormat::Flac;
    case 3: return SaveFormat::Vorbis;
    case 4: return SaveFormat::Mp3;
    case 5: return SaveFormat::Opus;
    default: return SaveFormat::Wav;
    }
}

SaveResult encodeTake(const QString &path, SaveFormat format, const SaveSource &source,
                      const std::atomic<bool> *cancel, std::atomic<qint64> *done,
                      const std::function<void(qint64)> &step)
{
    if (source.bytes > 0 && source.fd < 0)
        return failed(MCIERR_FILE_READ, QStringLiteral("録音を読み出せません。"));
    // A read-only file, a symbolic link and an existing file's mode follow the rules of every
    // save the user asks for.
    AtomicFile file(path);
    if (const quint32 rc = file.open())
        return failed(rc, file.reason());
    const Progress progress{cancel, done, step};
    SaveResult r = format == SaveFormat::Wav ? writeWav(file, source, progress)
                                             : writeEncoded(file, format, source, progress);
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
