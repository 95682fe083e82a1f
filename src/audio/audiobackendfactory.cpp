// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "audiobackend.h"
#include "fakeaudiobackend.h"
#include "portaudiobackend.h"

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
}  // namespace

std::unique_ptr<AudioBackend> makeAudioBackend()
{
    if (qEnvironmentVariable("TAVRIN_AUDIO") == QLatin1String("fake"))
        return std::make_unique<WallClockFakeBackend>();
    return std::make_unique<PortAudioBackend>();
}
