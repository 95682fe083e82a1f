// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The capture ring of a spool, kept in a file in the per-user runtime folder
// ($XDG_RUNTIME_DIR, a tmpfs). What the audio thread puts in the ring is in the kernel at
// once, so a killed program loses nothing the server had sent, while the disk thread writes
// the spool only when it syncs it, once a second: one wake-up a second instead of one per
// fragment. The next start appends what a dead program's ring held to its spool before the
// spool is recovered. A reboot, or the end of the user's last session, empties the folder;
// then what was synced counts, as without a ring. Where there is no such folder the spool
// keeps its ring in memory and writes each fragment as it comes.
#pragma once

#include "spscring.h"

#include <QString>

#include <cstdint>
#include <memory>

class RingFile {
public:
    // A new ring of at least capacity bytes for the spool named stem ("spool-"/"saved-" left
    // off) in spoolDir, locked for as long as it lives; null where there is no runtime
    // folder on a tmpfs, or the ring cannot be made there.
    static std::unique_ptr<RingFile> create(const QString &spoolDir, const QString &stem, int bytesPerFrame,
                                            size_t capacity);
    ~RingFile();  // removes the file
    RingFile(const RingFile &) = delete;
    RingFile &operator=(const RingFile &) = delete;

    SpscRing &ring() { return *m_ring; }
    // The spool's data byte that the ring's byte 0 goes to, from the start of a take
    // (ring reset) to its end (notCapturing).
    void setBase(std::uint64_t spoolByte);
    static constexpr std::uint64_t kNotCapturing = ~std::uint64_t(0);

    struct Header;  // the file's first page

private:
    RingFile() = default;

    int m_fd = -1;
    QByteArray m_path;
    void *m_map = nullptr;
    size_t m_mapSize = 0;
    Header *m_header = nullptr;
    std::unique_ptr<SpscRing> m_ring;
};

// Appends to each orphaned spool in spoolDir what its dead owner's ring still held, and
// removes those rings. Run before the spools are recovered.
void mergeOrphanedRings(const QString &spoolDir);
