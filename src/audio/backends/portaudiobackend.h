// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The fallback where no sound server answers: PortAudio through ALSA's "pulse" device (else
// "default"). Constructing it costs nothing; PortAudio starts on first use.
#pragma once

#include "audiobackend.h"

#include <atomic>

class PortAudioBackend : public AudioBackend {
public:
    PortAudioBackend();
    ~PortAudioBackend() override;

    // Sets the variables that name our streams in the sound server and keep JACK quiet. Must
    // run before any thread that may read the environment (libpulse's among them) starts;
    // later calls do nothing.
    static void prepareEnvironment();

    bool realTime() const override { return true; }
    int outputDeviceCount() override;
    quint32 start(Direction direction, const AudioFormat &format,
                  AudioStreamClient *client) override;
    void stop(bool drain) override;
    StreamState state() override;
    quint32 failureCode() override { return m_failureCode; }
    qint64 outputLatencyFrames() override;

    // Real-time thread; reached through portaudio.h's own callback types in the .cpp.
    int streamCallback(const void *input, void *output, unsigned long frames);
    void streamFinished();

private:

    bool ensureInitialized();
    void restart();
    int findDevice(Direction direction);

    bool m_initialized = false;
    void *m_stream = nullptr;  // PaStream
    Direction m_direction = Direction::Capture;
    AudioStreamClient *m_client = nullptr;
    int m_rate = 0;
    int m_silenceByte = 0;
    int m_bytesPerFrame = 1;
    qint64 m_latencyFrames = 0;
    std::atomic<int> m_state{int(StreamState::Idle)};
    std::atomic<quint32> m_failureCode{0};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_completing{false};
    std::atomic<qint64> m_lastCallbackNs{0};
    std::atomic<bool> m_calledBack{false};
    qint64 m_startedNs = 0;
};
