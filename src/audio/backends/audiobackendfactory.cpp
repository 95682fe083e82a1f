// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audiobackend.h"
#include "fakeaudiobackend.h"
#include "portaudiobackend.h"
#include "pulsebackend.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

namespace {
// The fake backend on the wall clock, for running the whole program without a sound server
// (TAVRIN_AUDIO=fake): the event loop moves it every 20 ms by the time that really passed.
class WallClockFakeBackend : public FakeAudioBackend {
public:
    WallClockFakeBackend() {
        m_clock.start();
        m_timer.setInterval(20);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            advance(now - m_last);
            m_last = now;
        });
        m_timer.start();
    }

private:
    QElapsedTimer m_clock;
    QTimer m_timer;
    qint64 m_last = 0;
};

// The sound server's own protocol whenever a server is there; PortAudio (plain ALSA) where
// none is. A server that is there but hung is not "none": ALSA's pulse device would block on
// it too. The choice is made again at every stream, so a server that comes back is used.
class SoundServerBackend : public AudioBackend {
public:
    explicit SoundServerBackend(bool portAudioOnly) : m_portAudioOnly(portAudioOnly)
    {
        // Before libpulse's thread exists: the PortAudio fallback may come much later.
        prepareAudioEnvironment();
    }

    bool realTime() const override { return true; }
    int outputDeviceCount() override
    {
        if (!m_portAudioOnly) {
            const int count = m_pulse.outputDeviceCount();
            if (!m_pulse.serverAbsent())
                return count;
        }
        return portAudio().outputDeviceCount();
    }
    quint32 start(Direction direction, const AudioFormat &format, AudioStreamClient *client) override
    {
        stop(false);
        if (!m_portAudioOnly) {
            m_active = &m_pulse;
            const quint32 rc = m_pulse.start(direction, format, client);
            if (!m_pulse.serverAbsent())
                return rc;
        }
        m_active = &portAudio();
        return m_active->start(direction, format, client);
    }
    void stop(bool drain) override
    {
        if (m_active)
            m_active->stop(drain);
    }
    StreamState state() override { return m_active ? m_active->state() : StreamState::Idle; }
    quint32 failureCode() override { return m_active ? m_active->failureCode() : 0; }
    qint64 outputLatencyFrames() override { return m_active ? m_active->outputLatencyFrames() : 0; }
    qint64 capturedFramesNow() override { return m_active ? m_active->capturedFramesNow() : -1; }

private:
    AudioBackend &portAudio()
    {
        if (!m_portAudio)
            m_portAudio = std::make_unique<PortAudioBackend>();
        return *m_portAudio;
    }

    bool m_portAudioOnly;
    PulseBackend m_pulse;
    std::unique_ptr<PortAudioBackend> m_portAudio;
    AudioBackend *m_active = nullptr;
};
}  // namespace

void prepareAudioEnvironment()
{
    PortAudioBackend::prepareEnvironment();
}

std::unique_ptr<AudioBackend> makeAudioBackend()
{
    const QString choice = qEnvironmentVariable("TAVRIN_AUDIO");
    if (choice == QLatin1String("fake"))
        return std::make_unique<WallClockFakeBackend>();
    return std::make_unique<SoundServerBackend>(choice == QLatin1String("portaudio"));
}
