// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "pulsebackend.h"

#include "deviceerror.h"

#include <QLoggingCategory>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <vector>


namespace {

// What the server and the mixers show for Tavrin, on the client and on every stream.
void describeTavrin(pa_proplist *p)
{
    pa_proplist_sets(p, PA_PROP_APPLICATION_NAME, "Tavrin");
    pa_proplist_sets(p, PA_PROP_APPLICATION_ID, "org.example.tavrin.Tavrin");
    pa_proplist_sets(p, PA_PROP_APPLICATION_ICON_NAME, "tavrin");
    pa_proplist_sets(p, PA_PROP_APPLICATION_PROCESS_BINARY, program_invocation_short_name);
    pa_proplist_sets(p, PA_PROP_MEDIA_ROLE, "production");
}

quint32 refusalCode(int paError, AudioBackend::Direction direction)
{
    switch (paError) {
    case PA_ERR_NOTSUPPORTED:
    case PA_ERR_INVALID:
    case PA_ERR_NOENTITY:
        return direction == AudioBackend::Direction::Capture ? MCIERR_WAVE_INPUTSUNSUITABLE
                                                             : MCIERR_WAVE_OUTPUTSUNSUITABLE;
    default:
        return MCIERR_CANNOT_LOAD_DRIVER;
    }
}

// How long the UI thread waits for the server. A healthy one answers within tens of
// milliseconds, even on a busy machine; one that is stopped or hung never does, and the window
// must not freeze meanwhile. The start-up probe gets the least, as the window waits for it.
constexpr int kProbeTimeoutMs = 800;
constexpr int kStartTimeoutMs = 1500;
constexpr int kStopTimeoutMs = 600;
// A stream that moves no audio for this long (after its first, plus a fragment) has lost its
// server, or the server hangs.
constexpr qint64 kStallNs = 3000000000LL;
// How often a capture stream asks for the server's timing: at its first audio, then every 10 s.
constexpr qint64 kTimingEveryNs = 10000000000LL;

// The capture clock before the stream's first audio.
constexpr qint64 kNoClock = std::numeric_limits<qint64>::min();

enum class Reach { Ready, Absent, Faulty };

int msUntil(qint64 deadlineNs)
{
    return int(std::max<qint64>(0, (deadlineNs - monotonicNs()) / 1000000));
}

} // namespace

struct PulseBackend::Impl {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;

    // The running stream. Everything below is touched under the main loop's lock, except
    // the atomics, which the UI thread reads without it.
    pa_stream *stream = nullptr;
    Direction direction = Direction::Capture;
    AudioStreamClient *client = nullptr;
    AudioFormat format;
    pa_sample_spec spec{};
    int bpf = 1;
    std::atomic<int> state{int(StreamState::Idle)};
    std::atomic<quint32> failure{0};
    std::atomic<qint64> lastDataNs{0};
    std::atomic<bool> gotData{false};
    // For the stop line in the log: when start() was called, and when the first data came.
    qint64 startCalledNs = 0;
    qint64 startedNs = 0;
    qint64 firstDataNs = 0;

    // Capture.
    qint64 receivedFrames = 0;   // from the server, all of it
    qint64 deliveredFrames = 0;  // handed to the client
    qint64 stopAtFrame = -1;     // while stopping: the frame at which the press came
    bool settled = false;        // the fragment size has been raised after the first second
    qint64 lastTimingNs = 0;     // the last timing update asked for
    // The capture clock, published with each fragment: the monotonic time at which the
    // stream's time was zero. The window reads it without the loop's lock.
    std::atomic<qint64> clockOriginNs{kNoClock};
    qint64 clockShown = -1;  // the last frame count handed out (caller's thread only)
    std::vector<char> carry;     // a frame split between two fragments
    size_t carried = 0;
    std::vector<char> silence;

    bool holding = false;         // while stopping: fragments wait in the stream until the press is placed

    // Playback.
    qint64 writtenFrames = 0;
    bool draining = false;

    bool absent = false;          // the last attempt found no server at all
    qint64 connectingSinceNs = 0;

    ~Impl()
    {
        if (loop)
            pa_threaded_mainloop_stop(loop);
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop)
            pa_threaded_mainloop_free(loop);
    }

    // Waits, with the lock held, until pred holds or timeoutMs pass; returns pred().
    bool waitFor(const std::function<bool()> &pred, int timeoutMs)
    {
        if (pred())
            return true;
        struct Alarm {
            pa_threaded_mainloop *loop;
            bool rang = false;
        } alarm{loop};
        pa_mainloop_api *api = pa_threaded_mainloop_get_api(loop);
        timeval tv;
        pa_gettimeofday(&tv);
        pa_timeval_add(&tv, pa_usec_t(timeoutMs) * 1000);
        pa_time_event *ev = api->time_new(
            api, &tv,
            [](pa_mainloop_api *, pa_time_event *, const timeval *, void *u) {
                auto *a = static_cast<Alarm *>(u);
                a->rang = true;
                pa_threaded_mainloop_signal(a->loop, 0);
            },
            &alarm);
        while (!pred() && !alarm.rang)
            pa_threaded_mainloop_wait(loop);
        api->time_free(ev);
        return pred();
    }

    bool waitForOperation(pa_operation *op, int timeoutMs)
    {
        if (!op)
            return false;
        const bool done = waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeoutMs);
        if (!done)
            pa_operation_cancel(op);
        pa_operation_unref(op);
        return done;
    }

    void dropContext()
    {
        if (!context)
            return;
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }

    // No server listens (no socket, or nobody behind it): the one case for the PortAudio
    // fallback. A server that is there but does not answer would block ALSA's pulse device
    // just the same, for libpulse's 30 s per open.
    static Reach reachOf(int paError)
    {
        switch (paError) {
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_INVALIDSERVER:
        case PA_ERR_CONNECTIONTERMINATED:
            return Reach::Absent;
        default:
            return Reach::Faulty;
        }
    }

    // With the lock held. Waits at most until deadlineNs.
    Reach reach(qint64 deadlineNs)
    {
        if (context) {
            const pa_context_state_t st = pa_context_get_state(context);
            if (st == PA_CONTEXT_READY)
                return Reach::Ready;
            // Gone (a new context finds the server again once it is back); one that is still
            // connecting is waited on again rather than replaced, since a stopped server keeps
            // every connection in its short listen queue, and once that is full the next
            // connect reads as refused.
            if (!PA_CONTEXT_IS_GOOD(st))
                dropContext();
        }
        if (!context) {
            pa_proplist *props = pa_proplist_new();
            describeTavrin(props);
            context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), "Tavrin", props);
            pa_proplist_free(props);
            if (!context)
                return Reach::Faulty;
            pa_context_set_state_callback(
                context, [](pa_context *, void *u) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(u), 0); },
                loop);
            if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
                const int err = pa_context_errno(context);
                dropContext();
                return reachOf(err);
            }
            connectingSinceNs = monotonicNs();
        }
        // A connection that has had a stream start's time already gets no more of the UI
        // thread: the server hangs, and each press would freeze the window again.
        deadlineNs = std::min(deadlineNs, std::max(connectingSinceNs + qint64(kStartTimeoutMs) * 1000000, monotonicNs()));
        const auto settledState = [this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) ||
                                                  pa_context_get_state(context) == PA_CONTEXT_READY; };
        waitFor(settledState, msUntil(deadlineNs));
        const pa_context_state_t st = pa_context_get_state(context);
        if (st == PA_CONTEXT_READY)
            return Reach::Ready;
        if (PA_CONTEXT_IS_GOOD(st)) {
            qCWarning(lcAudio) << "the sound server accepts the connection but does not answer";
            return Reach::Faulty;
        }
        const int err = pa_context_errno(context);
        dropContext();
        return reachOf(err);
    }

    void markFailed()
    {
        if (state.load() == int(StreamState::Running)) {
            failure = MCIERR_CANNOT_LOAD_DRIVER;
            state = int(StreamState::Failed);
        }
    }

    // --- capture (main loop thread) -----------------------------------------------------

    void handOver(const void *data, qint64 frames)
    {
        if (stopAtFrame >= 0)
            frames = std::min(frames, stopAtFrame - deliveredFrames);
        if (frames <= 0)
            return;
        if (!client->captured(data, frames))
            markFailed();
        deliveredFrames += frames;
    }

    // data null: a hole in the stream, kept as silence so the take keeps its time.
    void deliver(const char *data, size_t n)
    {
        receivedFrames += qint64((carried + n) / size_t(bpf));
        while (n > 0) {
            if (carried > 0 || n < size_t(bpf)) {
                const size_t take = std::min(size_t(bpf) - carried, n);
                if (data)
                    std::memcpy(carry.data() + carried, data, take);
                else
                    std::memcpy(carry.data() + carried, silence.data(), take);
                carried += take;
                n -= take;
                if (data)
                    data += take;
                if (carried == size_t(bpf)) {
                    handOver(carry.data(), 1);
                    carried = 0;
                }
                continue;
            }
            qint64 frames = qint64(n / size_t(bpf));
            if (!data)
                frames = std::min<qint64>(frames, qint64(silence.size()) / bpf);
            handOver(data ? data : silence.data(), frames);
            n -= size_t(frames * bpf);
            if (data)
                data += frames * bpf;
        }
    }

    void onReadable()
    {
        if (holding)
            return;
        while (pa_stream_readable_size(stream) > 0) {
            const void *data = nullptr;
            size_t n = 0;
            if (pa_stream_peek(stream, &data, &n) < 0 || n == 0)
                break;
            deliver(static_cast<const char *>(data), n);
            pa_stream_drop(stream);
        }
        if (client)
            client->capturedBatch();
        const qint64 now = monotonicNs();
        // The stream's clock as the server last told it, run on to now as libpulse would.
        if (pa_usec_t time = 0; pa_stream_get_time(stream, &time) >= 0)
            clockOriginNs.store(now - qint64(time) * 1000, std::memory_order_release);
        lastDataNs.store(now, std::memory_order_relaxed);
        if (!gotData.exchange(true, std::memory_order_relaxed))
            firstDataNs = now;
        if (now - lastTimingNs > kTimingEveryNs) {
            // Keeps the stream's clock (capturedFramesNow) in step with the server's.
            lastTimingNs = now;
            if (pa_operation *op = pa_stream_update_timing_info(stream, nullptr, nullptr))
                pa_operation_unref(op);
        }
        if (!settled && stopAtFrame < 0 && receivedFrames >= format.rate) {
            // Small fragments bring the first audio to the disk at once; after the first
            // second, long ones let the stream (and the server) wake a few times a second.
            settled = true;
            setFragment(kFragmentMs);
        }
        if (stopAtFrame >= 0)
            pa_threaded_mainloop_signal(loop, 0);
    }

    void setFragment(int ms)
    {
        pa_buffer_attr attr;
        attr.maxlength = uint32_t(-1);
        attr.tlength = uint32_t(-1);
        attr.prebuf = uint32_t(-1);
        attr.minreq = uint32_t(-1);
        attr.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(ms) * 1000, &spec));
        if (pa_operation *op = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr))
            pa_operation_unref(op);
    }

    // --- playback (main loop thread) ----------------------------------------------------

    void onWritable(size_t nbytes)
    {
        while (!draining && nbytes >= size_t(bpf)) {
            void *buf = nullptr;
            size_t n = nbytes;
            if (pa_stream_begin_write(stream, &buf, &n) < 0 || !buf || n < size_t(bpf)) {
                markFailed();
                return;
            }
            const qint64 want = qint64(n / size_t(bpf));
            const qint64 got = std::clamp<qint64>(client->render(buf, want), 0, want);
            if (got > 0)
                pa_stream_write(stream, buf, size_t(got * bpf), nullptr, 0, PA_SEEK_RELATIVE);
            else
                pa_stream_cancel_write(stream);
            writtenFrames += got;
            nbytes -= std::min(nbytes, size_t(got * bpf));
            if (got < want) {
                // The end of the recording: done once the server has played the rest.
                draining = true;
                pa_operation *op = pa_stream_drain(
                    stream,
                    [](pa_stream *, int success, void *u) {
                        auto *self = static_cast<Impl *>(u);
                        if (success && self->state.load() == int(StreamState::Running))
                            self->state = int(StreamState::Completed);
                        pa_threaded_mainloop_signal(self->loop, 0);
                    },
                    this);
                if (op)
                    pa_operation_unref(op);
            }
        }
        lastDataNs.store(monotonicNs(), std::memory_order_relaxed);
        gotData.store(true, std::memory_order_relaxed);
    }

    // --- both -------------------------------------------------------------------------

    void closeStream()
    {
        if (!stream)
            return;
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
        client = nullptr;
    }

    // Capture only: reads what the server still holds, up to the moment of the call.
    void fetchTail()
    {
        if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY)
            return;
        const qint64 pressNs = monotonicNs();
        // What arrives while the server tells the time may run past the press: it waits in the
        // stream until the press has a frame number.
        holding = true;
        const bool timed = waitForOperation(
            pa_stream_update_timing_info(
                stream, [](pa_stream *, int, void *u) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(u), 0); },
                loop),
            kStopTimeoutMs / 2);
        holding = false;
        const qint64 askedNs = monotonicNs();
        pa_usec_t now = 0;
        if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY || pa_stream_get_time(stream, &now) < 0)
            return;
        // The clock has run on while the server answered; the take ends at the press.
        const pa_usec_t since = pa_usec_t((askedNs - pressNs) / 1000);
        now = now > since ? now - since : 0;
        stopAtFrame = std::max<qint64>(deliveredFrames, qint64(now * pa_usec_t(format.rate) / PA_USEC_PER_SEC));
        onReadable();  // on this thread, under the lock, as the main loop's own calls run
        // The rest comes with the next fragment. Asking for shorter fragments now would bring
        // it sooner, but PipeWire's resampler then breaks the last milliseconds of the take.
        const bool whole = waitFor([this] { return receivedFrames >= stopAtFrame || !stream ||
                                                   pa_stream_get_state(stream) != PA_STREAM_READY; },
                                   kStopTimeoutMs);
        // Neither the time nor the tail came: the server has stopped answering, and the
        // take lacks its end.
        if (!timed && !whole)
            markFailed();
        qCDebug(lcAudio) << "stop: timing" << (askedNs - pressNs) / 1000000 << "ms, tail"
                         << (monotonicNs() - askedNs) / 1000000 << "ms; stream time" << now / 1000
                         << "ms; delivered" << deliveredFrames << "target" << stopAtFrame
                         << "; after start(): ready" << (startedNs - startCalledNs) / 1000 / 1000.0
                         << "ms, first data" << (firstDataNs - startCalledNs) / 1000 / 1000.0 << "ms";
    }
};

PulseBackend::PulseBackend() : d(std::make_unique<Impl>()) {}

PulseBackend::~PulseBackend()
{
    stop(false);
}

bool PulseBackend::serverAbsent() const { return d->absent; }

// False when the main loop cannot run at all.
static bool startLoop(pa_threaded_mainloop *&loop)
{
    if (loop)
        return true;
    loop = pa_threaded_mainloop_new();
    if (!loop)
        return false;
    pa_threaded_mainloop_set_name(loop, "tavrin-pulse");
    if (pa_threaded_mainloop_start(loop) < 0) {
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
        return false;
    }
    return true;
}

int PulseBackend::outputDeviceCount()
{
    const qint64 deadline = monotonicNs() + qint64(kProbeTimeoutMs) * 1000000;
    d->absent = false;
    if (!startLoop(d->loop))
        return 0;
    pa_threaded_mainloop_lock(d->loop);
    const Reach r = d->reach(deadline);
    d->absent = r == Reach::Absent;
    int count = 0;
    if (r == Reach::Ready) {
        struct Counter {
            int *count;
            pa_threaded_mainloop *loop;
        } counter{&count, d->loop};
        pa_operation *op = pa_context_get_sink_info_list(
            d->context,
            [](pa_context *, const pa_sink_info *info, int eol, void *u) {
                auto *c = static_cast<Counter *>(u);
                if (eol == 0 && info)
                    ++*c->count;
                if (eol != 0)
                    pa_threaded_mainloop_signal(c->loop, 0);
            },
            &counter);
        if (!d->waitForOperation(op, msUntil(deadline)))
            count = 0;
    }
    pa_threaded_mainloop_unlock(d->loop);
    return count;
}

quint32 PulseBackend::start(Direction direction, const AudioFormat &format, AudioStreamClient *client)
{
    const qint64 calledNs = monotonicNs();
    const qint64 deadline = calledNs + qint64(kStartTimeoutMs) * 1000000;
    stop(false);
    d->startCalledNs = calledNs;
    d->state = int(StreamState::Idle);
    d->failure = 0;
    d->absent = false;
    if (!startLoop(d->loop))
        return MCIERR_CANNOT_LOAD_DRIVER;
    pa_threaded_mainloop_lock(d->loop);
    const Reach r = d->reach(deadline);
    if (r != Reach::Ready) {
        d->absent = r == Reach::Absent;
        pa_threaded_mainloop_unlock(d->loop);
        return MCIERR_CANNOT_LOAD_DRIVER;
    }
    d->direction = direction;
    d->client = client;
    d->format = format;
    d->bpf = format.bytesPerFrame();
    d->spec.format = format.bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    d->spec.rate = uint32_t(format.rate);
    d->spec.channels = uint8_t(format.channels);
    d->receivedFrames = d->deliveredFrames = d->writtenFrames = 0;
    d->stopAtFrame = -1;
    d->settled = false;
    d->lastTimingNs = 0;
    d->draining = false;
    d->carry.assign(size_t(std::max(1, d->bpf)), 0);
    d->carried = 0;
    d->silence.assign(size_t(1 << 16), char(format.bits == 8 ? 0x80 : 0));
    d->gotData = false;
    const bool capture = direction == Direction::Capture;

    if (!pa_sample_spec_valid(&d->spec)) {
        d->client = nullptr;
        pa_threaded_mainloop_unlock(d->loop);
        return refusalCode(PA_ERR_NOTSUPPORTED, direction);
    }
    pa_channel_map map;
    pa_channel_map_init_auto(&map, d->spec.channels, PA_CHANNEL_MAP_DEFAULT);
    pa_proplist *props = pa_proplist_new();
    describeTavrin(props);
    d->stream = pa_stream_new_with_proplist(d->context, capture ? "録音" : "再生", &d->spec, &map, props);
    pa_proplist_free(props);
    if (!d->stream) {
        const int err = pa_context_errno(d->context);
        d->client = nullptr;
        pa_threaded_mainloop_unlock(d->loop);
        return refusalCode(err, direction);
    }
    pa_stream_set_state_callback(
        d->stream,
        [](pa_stream *s, void *u) {
            auto *self = static_cast<Impl *>(u);
            if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
                self->markFailed();
            pa_threaded_mainloop_signal(self->loop, 0);
        },
        d.get());

    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    // Capture asks for the server's timing itself, now and then (onReadable); the automatic
    // updates would wake the stream more often than its audio does.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                         (capture ? 0 : PA_STREAM_AUTO_TIMING_UPDATE));
    d->clockOriginNs = kNoClock;
    d->clockShown = -1;
    d->state = int(StreamState::Running);
    int rc;
    if (capture) {
        attr.fragsize = uint32_t(pa_usec_to_bytes(pa_usec_t(kFirstFragmentMs) * 1000, &d->spec));
        pa_stream_set_read_callback(
            d->stream, [](pa_stream *, size_t, void *u) { static_cast<Impl *>(u)->onReadable(); }, d.get());
        rc = pa_stream_connect_record(d->stream, nullptr, &attr, flags);
    } else {
        attr.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(kFragmentMs) * 1000, &d->spec));
        pa_stream_set_write_callback(
            d->stream, [](pa_stream *, size_t n, void *u) { static_cast<Impl *>(u)->onWritable(n); }, d.get());
        rc = pa_stream_connect_playback(d->stream, nullptr, &attr, flags, nullptr, nullptr);
    }
    bool stalled = false;
    if (rc == 0) {
        d->waitFor([this] { return pa_stream_get_state(d->stream) != PA_STREAM_CREATING; }, msUntil(deadline));
        stalled = pa_stream_get_state(d->stream) == PA_STREAM_CREATING;
        if (pa_stream_get_state(d->stream) != PA_STREAM_READY)
            rc = -1;
    }
    if (rc != 0) {
        const int err = pa_context_errno(d->context);
        d->state = int(StreamState::Idle);
        d->closeStream();
        if (stalled) {
            // A stream still being created cannot be withdrawn; the connection goes with it,
            // lest the server open it later for nobody.
            qCWarning(lcAudio) << "the sound server does not answer";
            d->dropContext();
            pa_threaded_mainloop_unlock(d->loop);
            return MCIERR_CANNOT_LOAD_DRIVER;
        }
        qCWarning(lcAudio) << "the sound server refused the stream:" << pa_strerror(err);
        pa_threaded_mainloop_unlock(d->loop);
        return refusalCode(err, direction);
    }
    d->startedNs = monotonicNs();
    d->lastDataNs = d->startedNs;
    pa_threaded_mainloop_unlock(d->loop);
    return 0;
}

void PulseBackend::stop(bool drain)
{
    if (!d->loop)
        return;
    d->clockOriginNs = kNoClock;
    d->clockShown = -1;
    pa_threaded_mainloop_lock(d->loop);
    if (d->stream) {
        if (drain && d->direction == Direction::Capture && d->state.load() == int(StreamState::Running))
            d->fetchTail();
        d->closeStream();
    }
    // A stream that broke off, even while it was being stopped, stays failed until the next
    // start: the take it ended lacks what the server never sent.
    if (d->state.load() != int(StreamState::Failed))
        d->state = int(StreamState::Idle);
    pa_threaded_mainloop_unlock(d->loop);
}

StreamState PulseBackend::state()
{
    auto st = StreamState(d->state.load());
    if (st == StreamState::Running) {
        // Counted from the first data: a server that is slow to start is not a lost one.
        const qint64 quiet = monotonicNs() - d->lastDataNs.load(std::memory_order_relaxed);
        const qint64 allowed = d->gotData.load(std::memory_order_relaxed)
                                   ? kStallNs + qint64(kFragmentMs) * 1000000
                                   : 3 * kStallNs;
        if (quiet > allowed) {
            d->markFailed();
            st = StreamState(d->state.load());
        }
    }
    return st;
}

quint32 PulseBackend::failureCode() { return d->failure.load(); }

qint64 PulseBackend::outputLatencyFrames()
{
    if (!d->loop || d->direction != Direction::Playback)
        return 0;
    pa_threaded_mainloop_lock(d->loop);
    qint64 pending = 0;
    if (d->stream) {
        pa_usec_t heard = 0;
        pending = d->writtenFrames;
        if (pa_stream_get_time(d->stream, &heard) >= 0)
            pending = d->writtenFrames - qint64(heard * pa_usec_t(d->format.rate) / PA_USEC_PER_SEC);
        pending = std::clamp<qint64>(pending, 0, d->writtenFrames);
    }
    pa_threaded_mainloop_unlock(d->loop);
    return pending;
}

// The window asks for the time twice a second. Each fragment leaves the stream's clock behind
// (read under the loop's lock on the loop's own thread), and the window runs it on from there
// as libpulse's own interpolation does, without the lock and without waking the loop. What it
// hands out never goes back, so a fragment that sets the clock a little behind does not show.
qint64 PulseBackend::capturedFramesNow()
{
    if (!d->loop || d->direction != Direction::Capture || d->state.load() != int(StreamState::Running))
        return -1;
    const qint64 origin = d->clockOriginNs.load(std::memory_order_acquire);
    if (origin == kNoClock)
        return -1;
    const qint64 us = std::max<qint64>(0, (monotonicNs() - origin) / 1000);
    d->clockShown = std::max(d->clockShown, us * d->format.rate / 1000000);
    return d->clockShown;
}
