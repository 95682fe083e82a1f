// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "portaudiobackend.h"

#include "deviceerror.h"

#include <QLoggingCategory>

#include <alsa/asoundlib.h>
#include <portaudio.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <mutex>


namespace {

void quietAlsa(const char *, int, const char *, int, const char *, ...) {}
void quietJack(const char *) {}

quint32 openErrorCode(PaError err, AudioBackend::Direction direction)
{
    switch (err) {
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount:
        return direction == AudioBackend::Direction::Capture ? MCIERR_WAVE_INPUTSUNSUITABLE
                                                             : MCIERR_WAVE_OUTPUTSUNSUITABLE;
    case paInsufficientMemory:
        return MCIERR_OUT_OF_MEMORY;
    default:
        return MCIERR_CANNOT_LOAD_DRIVER;
    }
}

} // namespace

// PortAudio calls back through these, with exactly the types (and the C linkage) it declares.
extern "C" {
static int onStream(const void *input, void *output, unsigned long frames,
                    const PaStreamCallbackTimeInfo *, PaStreamCallbackFlags, void *user)
{
    return static_cast<PortAudioBackend *>(user)->streamCallback(input, output, frames);
}

static void onStreamFinished(void *user)
{
    static_cast<PortAudioBackend *>(user)->streamFinished();
}
}

PortAudioBackend::PortAudioBackend() = default;

// Once per process, before the first ALSA open: name our streams in the sound server, keep
// JACK from starting a server of its own, and keep the backends' probe chatter off stderr.
// setenv may race another thread's getenv, hence the call before libpulse's thread starts.
void PortAudioBackend::prepareEnvironment()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ::setenv("PULSE_PROP_OVERRIDE", "application.name=Tavrin", 0);
        ::setenv("PULSE_PROP", "media.role=production application.icon_name=tavrin", 0);
        ::setenv("JACK_NO_START_SERVER", "1", 0);
        snd_lib_error_set_handler(quietAlsa);
        using JackHook = void (*)(void (*)(const char *));
        for (const char *name : {"jack_set_error_function", "jack_set_info_function"}) {
            if (auto hook = reinterpret_cast<JackHook>(::dlsym(RTLD_DEFAULT, name)))
                hook(quietJack);
        }
    });
}

PortAudioBackend::~PortAudioBackend()
{
    stop(false);
    if (m_initialized)
        Pa_Terminate();
}

bool PortAudioBackend::ensureInitialized()
{
    if (m_initialized)
        return true;
    prepareEnvironment();
    const PaError err = Pa_Initialize();
    if (err != paNoError) {
        qCWarning(lcAudio) << "PortAudio did not start:" << Pa_GetErrorText(err);
        return false;
    }
    m_initialized = true;
    return true;
}

// PortAudio lists devices only when it starts; a server that came up later needs a new start.
void PortAudioBackend::restart()
{
    if (m_stream)
        return;
    if (m_initialized) {
        Pa_Terminate();
        m_initialized = false;
    }
    ensureInitialized();
}

int PortAudioBackend::outputDeviceCount()
{
    if (!ensureInitialized())
        return 0;
    auto count = [] {
        int n = 0;
        for (int i = 0; i < Pa_GetDeviceCount(); ++i) {
            const PaDeviceInfo *info = Pa_GetDeviceInfo(i);
            if (info && info->maxOutputChannels > 0)
                ++n;
        }
        return n;
    };
    int n = count();
    if (n == 0) {
        restart();
        n = m_initialized ? count() : 0;
    }
    return n;
}

int PortAudioBackend::findDevice(Direction direction)
{
    const bool capture = direction == Direction::Capture;
    const PaHostApiIndex alsa = Pa_HostApiTypeIdToHostApiIndex(paALSA);
    for (const char *wanted : {"pulse", "default"}) {
        for (int i = 0; i < Pa_GetDeviceCount(); ++i) {
            const PaDeviceInfo *info = Pa_GetDeviceInfo(i);
            if (!info || (alsa >= 0 && info->hostApi != alsa) || std::strcmp(info->name, wanted) != 0)
                continue;
            if ((capture ? info->maxInputChannels : info->maxOutputChannels) > 0)
                return i;
        }
    }
    const int fallback = capture ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    return fallback;
}

quint32 PortAudioBackend::start(Direction direction, const AudioFormat &format,
                                AudioStreamClient *client)
{
    stop(false);
    if (!ensureInitialized())
        return MCIERR_CANNOT_LOAD_DRIVER;
    int device = findDevice(direction);
    if (device == paNoDevice) {
        restart();
        if (!m_initialized)
            return MCIERR_CANNOT_LOAD_DRIVER;
        device = findDevice(direction);
        if (device == paNoDevice)
            return MCIERR_CANNOT_LOAD_DRIVER;
    }
    const PaDeviceInfo *info = Pa_GetDeviceInfo(device);

    PaStreamParameters params{};
    params.device = device;
    params.channelCount = format.channels;
    params.sampleFormat = format.bits == 8 ? paUInt8 : paInt16;
    const bool capture = direction == Direction::Capture;
    // Playback wants headroom against underruns; capture may sit on a generous buffer.
    params.suggestedLatency = capture ? info->defaultHighInputLatency
                                      : std::max(0.1, info->defaultLowOutputLatency);
    // About 25 ms a callback: larger buffers save little CPU (the sound server's client thread
    // wakes at its own rhythm) but delay what the position shows and what Stop still takes in.
    const unsigned long framesPerBuffer = std::clamp(format.rate / 40, 441, 1024);

    m_direction = direction;
    m_client = client;
    m_rate = format.rate;
    m_bytesPerFrame = format.bytesPerFrame();
    m_silenceByte = format.bits == 8 ? 0x80 : 0;
    m_stopping = false;
    m_completing = false;
    m_failureCode = 0;

    PaStream *stream = nullptr;
    PaError err = Pa_OpenStream(&stream, capture ? &params : nullptr, capture ? nullptr : &params,
                                format.rate, framesPerBuffer, paClipOff | paDitherOff,
                                &onStream, this);
    if (err != paNoError) {
        qCWarning(lcAudio) << "cannot open stream:" << Pa_GetErrorText(err);
        m_client = nullptr;
        return openErrorCode(err, direction);
    }
    Pa_SetStreamFinishedCallback(stream, &onStreamFinished);
    const PaStreamInfo *si = Pa_GetStreamInfo(stream);
    m_latencyFrames = si ? qint64(si->outputLatency * format.rate + 0.5) : 0;
    m_stream = stream;
    m_startedNs = monotonicNs();
    m_lastCallbackNs = m_startedNs;
    m_calledBack = false;
    m_state = int(StreamState::Running);
    err = Pa_StartStream(stream);
    if (err != paNoError) {
        qCWarning(lcAudio) << "cannot start stream:" << Pa_GetErrorText(err);
        m_state = int(StreamState::Idle);
        Pa_CloseStream(stream);
        m_stream = nullptr;
        m_client = nullptr;
        return openErrorCode(err, direction);
    }
    return 0;
}

void PortAudioBackend::stop(bool drain)
{
    if (!m_stream)
        return;
    auto *stream = static_cast<PaStream *>(m_stream);
    m_stopping = true;
    const bool healthy = state() == StreamState::Running;
    // Stop waits for the buffers in flight (capture keeps them); abort discards them and does
    // not wait on a stream that no longer answers.
    if (drain && healthy && m_direction == Direction::Capture)
        Pa_StopStream(stream);
    else
        Pa_AbortStream(stream);
    Pa_CloseStream(stream);
    m_stream = nullptr;
    m_client = nullptr;
    m_state = int(StreamState::Idle);
}

StreamState PortAudioBackend::state()
{
    auto st = StreamState(m_state.load());
    if (st == StreamState::Running && m_stream && !m_stopping) {
        // A server that vanished may leave the stream neither running nor finished; a stream
        // silent for seconds is as good as broken.
        // Counted from the first callback: a server slow to start the stream has not gone.
        const qint64 quiet = monotonicNs() - m_lastCallbackNs.load();
        const qint64 allowed = m_calledBack.load() ? 3000000000LL : 10000000000LL;
        if (quiet > allowed || Pa_IsStreamActive(static_cast<PaStream *>(m_stream)) == 0) {
            if (StreamState(m_state.load()) == StreamState::Running) {
                m_failureCode = MCIERR_CANNOT_LOAD_DRIVER;
                m_state = int(StreamState::Failed);
            }
            st = StreamState(m_state.load());
        }
    }
    return st;
}

qint64 PortAudioBackend::outputLatencyFrames()
{
    return m_direction == Direction::Playback ? m_latencyFrames : 0;
}

int PortAudioBackend::streamCallback(const void *input, void *output, unsigned long frames)
{
    m_lastCallbackNs.store(monotonicNs(), std::memory_order_relaxed);
    m_calledBack.store(true, std::memory_order_relaxed);
    if (m_direction == Direction::Capture) {
        if (!input)
            return paContinue;
        const bool ok = m_client->captured(input, qint64(frames));
        m_client->capturedBatch();
        return ok ? paContinue : paAbort;
    }
    const qint64 got = m_client->render(output, qint64(frames));
    if (got < qint64(frames)) {
        std::memset(static_cast<char *>(output) + got * m_bytesPerFrame, m_silenceByte,
                    size_t((qint64(frames) - got) * m_bytesPerFrame));
        m_completing.store(true);
        return paComplete;
    }
    return paContinue;
}

void PortAudioBackend::streamFinished()
{
    if (m_stopping.load())
        return;
    if (m_completing.load()) {
        m_state.store(int(StreamState::Completed));
    } else {
        m_failureCode.store(MCIERR_CANNOT_LOAD_DRIVER);
        m_state.store(int(StreamState::Failed));
    }
}
