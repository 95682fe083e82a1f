// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// After a crash, a kill or a power loss the recording is still in its spool. The next start
// finds the spools that no running copy holds and saves each one as an ordinary WAV file.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

struct RecoveredTake {
    QString spool;    // the spool it came from
    QString savedAs;  // the WAV file written, empty when the save failed
    qint64 frames = 0;
};

// Saves every orphaned spool in spoolDir into targetDir as "mmddhhnnss.wav" (the spool's last
// change), with "-2", "-3"... where that name is taken. A spool is removed only once its copy
// is safely on disk; one that cannot be saved or read stays for the next start and is listed
// with an empty savedAs. Spools held by a running copy of the program (they are locked) are
// never touched; empty ones, takes that were saved whole and spools that died being born are
// removed without a word. What a killed copy's ring file still held is added to its spool
// first (spoolring.h).
QList<RecoveredTake> recoverOrphanedSpools(const QString &spoolDir, const QString &targetDir);
