// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The wave-audio device: one object that opens a PCM WAV file as a template, records into
// a spool file in that format, plays the recording back, and saves it as a WAV file.
// All positions and lengths are milliseconds. Called from the UI thread only.
#pragma once

#include "atomicfile.h"
#include "deviceerror.h"

#include <QString>

#include <memory>
#include <stdexcept>

class AudioBackend;

class EMCIDeviceError : public std::runtime_error {
public:
    explicit EMCIDeviceError(const QString &message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

enum TMPModes {
    ModeNotReady = 0,
    ModeStopped = 1,
    ModePlaying = 2,
    ModeRecording = 3,
    ModeSeeking = 4,
    ModePaused = 5,
    ModeOpen = 6,
};

class TMediaPlayer {
public:
    // spoolDir: the per-user folder in which recordings are spooled (created on demand).
    TMediaPlayer(std::unique_ptr<AudioBackend> backend, QString spoolDir);
    ~TMediaPlayer();  // closes a held device
    TMediaPlayer(const TMediaPlayer &) = delete;
    TMediaPlayer &operator=(const TMediaPlayer &) = delete;

    QString FileName;

    void Open();
    void Close();
    // Ends the device like Close, but an unsaved recording stays on disk as a finished spool
    // for the next start to recover (used when the program is told to end at once).
    void KeepForRecovery();
    void Play();
    void Record();
    void Stop();
    void Rewind();
    void Seek(qint32 positionMs);
    // Writes the recording to FileName, whole or not at all; NoReplace never replaces a file
    // and takes the next free name ("-2", "-3"...) instead.
    void Save(AtomicFile::Mode mode = AtomicFile::Mode::Replace);
    // After a Save: where the file went, or (after a failure) why not, in Japanese.
    QString SavedAs() const;
    QString SaveReason() const;
    // For a save on another thread: what Save would write now (a running recording is
    // flushed first and goes on), with a dup of the spool's descriptor that the caller closes.
    struct SaveSource saveSource();
    void SetTimeFormat(quint8 format);

    qint32 Position();
    qint32 Length();
    TMPModes Mode();

    bool Opened() const;
    quint16 DeviceId() const;
    quint32 ErrorCode() const;

    // waveOutGetNumDevs: the output devices the backend sees.
    int outputDeviceCount();

    // A fault the device met while running, once; code 0 when there is none.
    DeviceFault takeFault();

    AudioBackend &backend();

    // The file that holds the current recording (empty before the first Record of an Open).
    QString spoolPath() const;
    // The recording's sample bytes so far (what a save now would write, once it has stopped).
    qint64 DataBytes() const;
    // The whole recording has been saved: after a crash it is not recovered a second time.
    // The next Record takes the mark away again.
    void MarkSaved();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
