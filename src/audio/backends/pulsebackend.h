// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The sound server's own protocol: a native stream through libpulse, which speaks to
// PulseAudio and to PipeWire's PulseAudio service alike. One threaded main loop and one
// context serve the whole program; the context is made again when the server comes back.
#pragma once

#include "audiobackend.h"

#include <memory>

class PulseBackend : public AudioBackend {
public:
    PulseBackend();
    ~PulseBackend() override;

    // Whether the last outputDeviceCount() or start() found no server at all: no socket, or
    // nobody listening behind it. A server that is there but does not answer is a fault of
    // its own (MCIERR_CANNOT_LOAD_DRIVER), not an absence.
    bool serverAbsent() const;

    bool realTime() const override { return true; }
    int outputDeviceCount() override;
    quint32 start(Direction direction, const AudioFormat &format,
                  AudioStreamClient *client) override;
    void stop(bool drain) override;
    StreamState state() override;
    quint32 failureCode() override;
    qint64 outputLatencyFrames() override;
    qint64 capturedFramesNow() override;

    // How long capture fragments are once a stream has settled, and in its first second.
    // Stop waits for at most one fragment, so this bounds how long Stop takes.
    static constexpr int kFragmentMs = 200;
    static constexpr int kFirstFragmentMs = 20;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
