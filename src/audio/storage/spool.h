// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The recording on disk: a WAV file in the per-user spool folder that is valid at every
// moment. The samples are synced soon after the first audio and then every second, so a
// power cut loses at most about a second. The next start saves what is left
// (spoolrecovery.h). With a real-time backend the samples pass through a ring to a disk
// thread of the spool's own, so the audio thread never waits on the disk. A killed program
// loses nothing it had taken: the ring is a file in the runtime folder (spoolring.h), or,
// where there is none, each fragment is written to the spool as it arrives.
#pragma once

#include "audioformat.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <semaphore.h>
#include <thread>
#include <vector>

class RingFile;
class SpscRing;

// Test hook for the spool's own file operations. It sees each one before it is made (for a
// write: the bytes and where they go; for a rename: both names); returning false makes that
// call fail as the disk would (errno is set to what the hook leaves there, EIO if it leaves
// none).
enum class SpoolIo { Write, HeaderWrite, Sync, Create, Rename, Remove, FolderSync };
struct SpoolIoCall {
    SpoolIo op;
    const char *path = nullptr;  // the file, or the folder for FolderSync
    const char *to = nullptr;    // Rename: the new name
    const void *data = nullptr;  // Write, HeaderWrite
    qint64 len = 0;
    qint64 offset = 0;
};
using SpoolIoHook = bool (*)(const SpoolIoCall &call);
void setSpoolIoHook(SpoolIoHook hook);

// Names in the spool folder. A live spool is "spool-*.wav"; one whose whole take has been
// saved is "saved-*.wav"; one being born is ".new-*.wav". Each is locked (flock) by its owner
// for as long as it lives, so an unlocked one belongs to no running copy.
namespace SpoolNames {
inline constexpr const char *kLive = "spool-";
inline constexpr const char *kSaved = "saved-";
inline constexpr const char *kBirth = ".new-";
}

class Spool {
public:
    explicit Spool(QString dir);
    ~Spool();  // discards the file
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;

    // Makes and locks a new empty spool in this format, unless one is open. False when the
    // folder or the file cannot be made, or the file cannot be locked.
    bool create(const AudioFormat &format);
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    int fd() const { return m_fd; }
    const AudioFormat &format() const { return m_format; }
    qint64 dataBytes() const { return m_dataBytes.load(); }

    // Copies len bytes at offset of fd in as the recording so far, and syncs.
    bool import(int fd, qint64 offset, qint64 len);
    // Removes the file (then lets go of its lock, so no other copy can take it up meanwhile).
    void discard();
    // Closes the file and leaves it for the next start to recover.
    void keep();
    // Marks the take as saved whole (or no longer so, when recording goes on): a saved one is
    // never recovered. False when the mark could not be made durable.
    bool setSaved(bool saved);

    // Capture. beginCapture starts a take's counters; threaded: through the ring and the disk
    // thread, else every write goes to the file inline.
    void beginCapture(bool threaded);
    // The backend's thread. Takes frames; returns how many were taken, or -1 when the file
    // failed and the stream should end (inline writing only).
    qint64 write(const void *data, qint64 frames);
    // The backend's thread, after the write() calls of one fragment: wakes the disk thread to
    // write it, at most once until it has (sem_post neither blocks nor allocates). With a ring
    // file the fragment is already safe from a kill, and the disk thread writes it when it syncs.
    void kick();
    // Everything taken so far is in the file and its header is current (UI thread).
    void flush();
    // Ends the take: the rest reaches the file, which is synced and, after a failure, cut back
    // to what it holds. Returns the take's fault code (0 when the take is whole).
    quint32 endCapture();

    // Playback of frames [from, end).
    void beginPlayback(qint64 from, qint64 end, bool threaded);
    // The backend's thread. Fills up to frames frames; *real is set to how many came from the
    // file. A disk that falls behind gives silence rather than an early end.
    qint64 read(void *data, qint64 frames, qint64 *real);
    void endPlayback();

    // A fault met while a stream ran: the file failed (write, read or sync) or capture
    // outran the disk. 0 when there is none.
    quint32 pendingFault() const;
    // Frames the current take lost because the ring was full.
    qint64 droppedFrames() const { return m_dropped.load(); }

    // How soon after a take's first audio its first sync comes, and how often after that.
    static constexpr int kFirstSyncMs = 200;
    static constexpr int kSyncEveryMs = 1000;
    // A sync that falls due this soon after a fragment is written is made with it.
    static constexpr int kSyncEarlyMs = 200;
    // The least time between two writes of a take: audio that comes faster waits in the ring.
    static constexpr int kMinWriteGapMs = 50;

private:
    enum class Job { None, Record, Play };

    void fail(quint32 code);
    bool writeHeader();
    bool syncData();
    bool stillDurable(bool ok, const char *what);
    bool syncHeader();
    bool appendData(const void *data, qint64 len);
    void startDiskThread();
    void stopDiskThread();
    void request(Job job, bool flush);
    void diskLoop();
    void drainRing();
    void closeRingFile();
    void fillRing();
    qint64 writeInline(const void *data, qint64 frames);

    QString m_dir;
    AudioFormat m_format;
    int m_bpf = 1;
    int m_fd = -1;
    QString m_path;
    QString m_stem;  // the name without its "spool-"/"saved-" prefix
    bool m_saved = false;
    std::atomic<qint64> m_dataBytes{0};
    bool m_durable = true;  // false once a sync failed: later syncs prove nothing

    bool m_threaded = false;
    qint64 m_sinceSync = 0;  // inline capture: frames since the last sync
    bool m_syncedOnce = false;  // inline capture: the take's first sync has been made
    std::atomic<bool> m_failed{false};
    std::atomic<quint32> m_failCode{0};
    std::atomic<qint64> m_dropped{0};

    // Playback.
    qint64 m_playEnd = 0;       // frames
    qint64 m_playFrame = 0;     // inline: the next frame to hand out
    qint64 m_readByte = 0;      // threaded: the disk thread's next byte
    std::atomic<bool> m_eof{false};

    std::unique_ptr<SpscRing> m_ring;       // playback, and capture where there is no ring file
    std::unique_ptr<RingFile> m_ringFile;   // capture: a ring that outlives the process
    SpscRing *m_captureRing = nullptr;
    // With a ring file the audio thread wakes the disk thread only for a take's first audio
    // (which starts the sync cadence) and when the ring fills up.
    std::atomic<bool> m_wakeForFirst{false};
    std::thread m_disk;
    std::mutex m_mutex;
    // Wakes the disk thread: posted by the audio thread once per fragment (sem_post neither
    // blocks nor allocates) and by every request.
    sem_t m_kick;
    std::atomic<bool> m_kicked{false};
    std::condition_variable m_done;
    Job m_job = Job::None;
    bool m_flush = false;
    bool m_quit = false;
    quint64 m_requestSeq = 0;
    quint64 m_doneSeq = 0;
    std::vector<char> m_buffer;
};
