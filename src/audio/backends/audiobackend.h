// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The seam between the wave-audio device and the outside sound world. The real backend talks
// to the sound server (pulsebackend.h, with PortAudio as the fallback); the fake one moves
// only when a test advances its clock.
#pragma once

#include "audioformat.h"

#include <QtGlobal>

#include <ctime>
#include <memory>

// The backends' clock for telling a stalled stream, in nanoseconds.
inline qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The device's side of a running stream. Both calls run on the backend's real-time thread (the
// caller's thread for a backend that is not real-time): they must not allocate, block or take a
// lock that the UI thread can hold.
class AudioStreamClient {
public:
    virtual ~AudioStreamClient() = default;
    // Captured frames. Returning false ends the stream as failed.
    virtual bool captured(const void *data, qint64 frames) = 0;
    // The captured() calls of one delivery (a fragment from the server) are over: what they
    // gave may be handed on now, once, rather than piece by piece.
    virtual void capturedBatch() {}
    // Fills up to `frames` frames for playback; fewer means the end of the data.
    virtual qint64 render(void *data, qint64 frames) = 0;
};

enum class StreamState {
    Idle,       // no stream
    Running,
    Completed,  // playback: render() ran dry and the last frame has been heard
    Failed,     // the stream broke off by itself (server gone, client refused)
};

class AudioBackend {
public:
    enum class Direction { Capture, Playback };

    virtual ~AudioBackend() = default;

    // True when callbacks come on a thread of the backend's own; the device then keeps its
    // file I/O off that thread. False: callbacks run inside calls the owner makes, so the
    // device may do its file I/O inline.
    virtual bool realTime() const = 0;

    virtual int outputDeviceCount() = 0;

    // Starts a stream. Returns 0, or a device error code (see tmediaplayer.h).
    virtual quint32 start(Direction direction, const AudioFormat &format,
                          AudioStreamClient *client) = 0;
    // Ends the stream; no callback runs after it returns. drain: let capture deliver what it
    // holds (playback is always cut off at once). A stream that broke off, even while it was
    // being stopped, reads Failed afterwards until the next start.
    virtual void stop(bool drain) = 0;

    virtual StreamState state() = 0;
    // The error code behind StreamState::Failed.
    virtual quint32 failureCode() = 0;
    // Frames handed to the device that have not been heard yet.
    virtual qint64 outputLatencyFrames() = 0;
    // Capture: frames the source has taken in since the stream started, by the stream's
    // clock, including those still on their way in a fragment; -1 where it cannot tell.
    virtual qint64 capturedFramesNow() { return -1; }
};

// The program's backend: the fake one when TAVRIN_AUDIO=fake, else the sound server's.
std::unique_ptr<AudioBackend> makeAudioBackend();

// Sets the environment the audio libraries read. The program calls it first thing, before
// any thread exists; makeAudioBackend calls it too (once is enough) for callers that start
// no thread before it.
void prepareAudioEnvironment();
