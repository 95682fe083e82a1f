// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The wave-audio device: one object that opens a PCM WAV file as a template, records into
// a spool file in that format, plays the recording back, and saves it as a WAV file.
// All positions and lengths are milliseconds. Called from the UI thread only.
#pragma once

#include "atomicfile.h"

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

// The device's error codes. 0 is success; the others have texts in mciErrorText().
enum MciError : quint32 {
    MCIERR_NO_ERROR = 0,
    MCIERR_INVALID_DEVICE_ID = 257,
    MCIERR_HARDWARE = 262,
    MCIERR_OUT_OF_MEMORY = 264,
    MCIERR_CANNOT_LOAD_DRIVER = 266,  // no sound server reachable
    MCIERR_FILE_NOT_FOUND = 275,
    MCIERR_DEVICE_NOT_READY = 276,
    MCIERR_FILE_NOT_SAVED = 286,
    MCIERR_INVALID_FILE = 296,
    MCIERR_WAVE_OUTPUTSUNSUITABLE = 322,
    MCIERR_WAVE_INPUTSUNSUITABLE = 324,
    MCIERR_FILE_READ = 348,
    MCIERR_FILE_WRITE = 349,
    MCIERR_OUTOFRANGE = 282,
    MCIERR_BAD_TIME_FORMAT = 293,
    // Our own codes, in the range left to drivers.
    MCIERR_WAVE_FORMAT_UNSUPPORTED = 512,  // a WAV file, but not 8/16-bit PCM mono/stereo
    MCIERR_SPOOL_CREATE = 513,             // no room for the recording in the spool folder
    MCIERR_WAVE_OVERRUN = 514,             // the disk fell behind capture; frames were lost
};

// The text for a device error code; returns false (text untouched) for an unknown code.
bool mciGetErrorString(quint32 code, QString *text);

// Something the device ran into on its own while running (server gone, disk full), which the
// owner learns of by polling takeFault().
struct DeviceFault {
    quint32 code = 0;
    QString text;
    // Met by a stream that has ended since (say at a pause), not by the one running now.
    bool earlierStream = false;
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
