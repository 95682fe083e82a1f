// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "fakeaudiobackend.h"

#include "deviceerror.h"

#include <cstring>

namespace {
constexpr qint64 kChunkFrames = 4096;
}

FakeAudioBackend::FakeAudioBackend() = default;

quint32 FakeAudioBackend::start(Direction direction, const AudioFormat &format,
                                AudioStreamClient *client)
{
    if (m_refuseCode != 0)
        return m_refuseCode;
    if (m_state == StreamState::Running)
        stop(false);
    if (direction == Direction::Playback && m_outputDevices <= 0)
        return MCIERR_WAVE_OUTPUTSUNSUITABLE;
    m_direction = direction;
    m_format = format;
    m_client = client;
    m_remainder = 0;
    m_failureCode = 0;
    m_buffer.assign(size_t(kChunkFrames * format.bytesPerFrame()), 0);
    m_state = StreamState::Running;
    return 0;
}

void FakeAudioBackend::stop(bool)
{
    m_client = nullptr;
    m_state = StreamState::Idle;
}

void FakeAudioBackend::failStream(quint32 code)
{
    if (m_state != StreamState::Running)
        return;
    m_client = nullptr;
    m_failureCode = code;
    m_state = StreamState::Failed;
}

int FakeAudioBackend::rampSample(qint64 frame, int channel, int bits)
{
    const qint64 v = frame + channel;
    if (bits == 8)
        return int(v & 0xFF);
    return int(qint16(quint16(v & 0xFFFF)));
}

void FakeAudioBackend::advance(qint64 ms)
{
    if (m_state != StreamState::Running || ms <= 0)
        return;
    m_remainder += qint64(m_format.rate) * ms;
    const qint64 frames = m_remainder / 1000;
    m_remainder %= 1000;
    runFrames(frames);
}

void FakeAudioBackend::runFrames(qint64 frames)
{
    const int bpf = m_format.bytesPerFrame();
    while (frames > 0 && m_state == StreamState::Running) {
        const qint64 n = std::min(frames, kChunkFrames);
        unsigned char *p = m_buffer.data();
        if (m_direction == Direction::Capture) {
            for (qint64 f = 0; f < n; ++f) {
                for (int c = 0; c < m_format.channels; ++c) {
                    const int s = rampSample(m_captureCounter + f, c, m_format.bits);
                    if (m_format.bits == 8) {
                        *p++ = (unsigned char)s;
                    } else {
                        const quint16 u = quint16(qint16(s));
                        *p++ = (unsigned char)(u & 0xFF);
                        *p++ = (unsigned char)(u >> 8);
                    }
                }
            }
            m_captureCounter += n;
            const bool ok = m_client->captured(m_buffer.data(), n);
            m_client->capturedBatch();
            if (!ok) {
                failStream(MCIERR_FILE_WRITE);
                return;
            }
        } else {
            const qint64 got = m_client->render(p, n);
            if (got > 0) {
                m_playedFrames += got;
                const unsigned char *last = p + (got - 1) * bpf;
                m_lastPlayedSample = m_format.bits == 8 ? int(last[0])
                                                        : int(qint16(quint16(last[0] | (last[1] << 8))));
            }
            if (got < n) {
                // The fake has no output latency: the end of the data is the end of the sound.
                m_client = nullptr;
                m_state = StreamState::Completed;
                return;
            }
        }
        frames -= n;
    }
}
