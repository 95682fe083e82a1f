// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The wave-audio device's error codes and their texts, shared by every part of the device
// that can meet an error: the files, the spool, the encoder and the backends.
#pragma once

#include <QLoggingCategory>
#include <QString>

// The wave-audio device's log, all of its parts.
Q_DECLARE_LOGGING_CATEGORY(lcAudio)

// The device's error codes. 0 is success; the others have texts (mciGetErrorString).
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

// The code's text, or a general one for a code that has none.
QString errorText(quint32 code);
