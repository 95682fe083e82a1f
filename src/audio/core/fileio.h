// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// File I/O shared by the device and the spool recovery: positioned reads and writes that
// retry, a kernel-side copy, and the whole-or-nothing writing of a WAV file.
#pragma once

#include "atomicfile.h"
#include "audioformat.h"

#include <QString>

#include <functional>

bool writeAllAt(int fd, const void *data, qint64 len, qint64 off, qint64 *written = nullptr);
qint64 readAt(int fd, void *data, qint64 len, qint64 off);
// Copies len bytes between two files at the given offsets, in the kernel where it can.
bool copyRange(int in, qint64 inOff, int out, qint64 outOff, qint64 len);

// The one WAV writer, for every file the program writes (saves, auto-saves, recovered takes,
// the work file): into file (open, not committed), the header and then dataBytes sample bytes
// found at dataOffset in dataFd, holes kept as the format's silence. progress, if given, is
// told the bytes done before each piece and at the end; returning false cancels. Returns 0,
// kWavWriteCancelled, or a device error code with file.reason() saying why.
inline constexpr quint32 kWavWriteCancelled = quint32(-1);
quint32 writeWavData(AtomicFile &file, const AudioFormat &format, int dataFd, qint64 dataOffset,
                     qint64 dataBytes, const std::function<bool(qint64)> &progress = {});

// A complete PCM WAV file at path, whole or not at all (AtomicFile). Returns 0 or a device
// error code; *reason then says why, and *savedAs is where the file went (NoReplace may add a
// suffix).
quint32 writeWavFile(const QString &path, const AudioFormat &format, int dataFd, qint64 dataOffset,
                     qint64 dataBytes, AtomicFile::Mode mode, QString *reason = nullptr,
                     QString *savedAs = nullptr, AtomicFile::Links links = AtomicFile::Links::Follow);
