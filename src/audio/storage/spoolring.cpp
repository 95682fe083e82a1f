// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "spoolring.h"

#include "atomicfile.h"
#include "deviceerror.h"
#include "fileio.h"
#include "spool.h"
#include "wavfile.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <new>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

// The file: this header in its first page, the ring's bytes after it.
struct RingFile::Header {
    char magic[8];
    std::uint32_t bytesPerFrame;
    std::uint32_t version;
    std::uint64_t capacity;
    char bootId[40];   // the kernel's boot it was made in
    char stem[128];    // the spool's name without its prefix
    char dir[2048];    // the spool's folder
    alignas(64) std::atomic<std::uint64_t> base;
    SpscRing::Counters counters;
};

namespace {

constexpr char kMagic[8] = {'T', 'A', 'V', 'R', 'I', 'N', 'G', '1'};
constexpr size_t kDataOffset = 4096;
// More than any take holds (a petabyte): a ring that counts more is not believed.
constexpr std::uint64_t kMostBytes = std::uint64_t(1) << 50;
static_assert(sizeof(RingFile::Header) <= kDataOffset);
// Where the benchmark (bench.py) and a person with a hex dump find the counters.
static_assert(offsetof(RingFile::Header, base) == 2240);
static_assert(offsetof(RingFile::Header, counters) + offsetof(SpscRing::Counters, written) == 2304);
static_assert(offsetof(RingFile::Header, counters) + offsetof(SpscRing::Counters, consumed) == 2368);

// $XDG_RUNTIME_DIR/tavrin, where that is a tmpfs (kept in memory, gone at a reboot).
QString ringFolder()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct statfs fs {};
    if (!runtime.startsWith('/') || ::statfs(runtime.constData(), &fs) != 0 ||
        (fs.f_type != TMPFS_MAGIC && fs.f_type != RAMFS_MAGIC))
        return {};
    return QFile::decodeName(runtime) + QStringLiteral("/tavrin");
}

QByteArray bootId()
{
    QByteArray id;
    if (!readRegularFile(QStringLiteral("/proc/sys/kernel/random/boot_id"), 64, &id))
        return {};
    return id.trimmed();
}

// Copies text with its terminating zero into a field; false if it does not fit.
template <size_t N>
bool putText(char (&field)[N], const QByteArray &text)
{
    if (text.isEmpty() || size_t(text.size()) >= N)
        return false;
    std::memcpy(field, text.constData(), size_t(text.size()) + 1);
    return true;
}

template <size_t N>
QByteArray getText(const char (&field)[N])
{
    return QByteArray(field, int(strnlen(field, N)));
}

QByteArray spoolFolderName(const QString &spoolDir)
{
    return QFile::encodeName(QDir(spoolDir).absolutePath());
}

// Appends what the ring holds beyond the spool's counted data to the spool, and counts it.
void appendToSpool(const QString &spoolDir, const RingFile::Header &h, const unsigned char *data)
{
    const QString path = QDir(spoolDir).filePath(QLatin1String(SpoolNames::kLive) + QString::fromUtf8(getText(h.stem)));
    const int fd = openRegularFile(path, O_RDWR);
    if (fd < 0)
        return;  // saved whole, or gone
    struct stat st {};
    WavInfo info;
    const std::uint64_t base = h.base.load(), written = h.counters.written.load(),
                        consumed = h.counters.consumed.load();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || parseWavHeader(fd, st.st_size, &info) != 0 ||
        info.dataOffset != WavHeaderWriter::kSpoolHeaderSize ||
        std::uint32_t(info.format.bytesPerFrame()) != h.bytesPerFrame || written < consumed ||
        written - consumed > h.capacity || base > kMostBytes || written > kMostBytes) {
        ::close(fd);
        return;
    }
    // The spool counts every byte the ring let go of, and perhaps some it still holds.
    const std::uint64_t have = std::uint64_t(info.dataBytes);
    if (have < base + consumed || have >= base + written) {
        ::close(fd);
        return;
    }
    bool ok = true;
    for (std::uint64_t from = have - base; ok && from < written;) {
        const std::uint64_t at = from & (h.capacity - 1);
        const std::uint64_t n = std::min(written - from, h.capacity - at);
        ok = writeAllAt(fd, data + at, qint64(n), info.dataOffset + qint64(base + from));
        from += n;
    }
    const QByteArray header = WavHeaderWriter(info.format).spoolHeader(qint64(base + written));
    if (ok && writeAllAt(fd, header.constData(), header.size(), 0) && ::fdatasync(fd) == 0)
        qCInfo(lcAudio) << "a ring gave" << (base + written - have) << "bytes to" << path;
    ::close(fd);
}

}  // namespace

std::unique_ptr<RingFile> RingFile::create(const QString &spoolDir, const QString &stem, int bytesPerFrame,
                                           size_t capacity)
{
    const QString folder = ringFolder();
    const QByteArray boot = bootId();
    if (folder.isEmpty() || boot.isEmpty() || !makePrivatePath(folder))
        return nullptr;
    size_t cap = 4096;
    while (cap < capacity)
        cap <<= 1;
    std::unique_ptr<RingFile> r(new RingFile);
    QString name = stem;
    if (name.endsWith(QLatin1String(".wav")))
        name.chop(4);
    r->m_path = QFile::encodeName(folder + QStringLiteral("/ring-") + name + QStringLiteral(".ring"));
    r->m_fd = ::open(r->m_path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (r->m_fd < 0) {
        r->m_path.clear();  // not ours to remove
        return nullptr;
    }
    struct stat st {};
    r->m_mapSize = kDataOffset + cap;
    // Locked before anything is in it; a recovering copy that took it up before the lock
    // removed it, and then it is of no use.
    if (::flock(r->m_fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(r->m_fd, &st) != 0 || st.st_nlink == 0 ||
        ::posix_fallocate(r->m_fd, 0, off_t(r->m_mapSize)) != 0)
        return nullptr;
    void *map = ::mmap(nullptr, r->m_mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, r->m_fd, 0);
    if (map == MAP_FAILED)
        return nullptr;
    r->m_map = map;
    auto *h = new (map) Header{};
    h->bytesPerFrame = std::uint32_t(bytesPerFrame);
    h->version = 1;
    h->capacity = cap;
    h->base.store(kNotCapturing);
    if (!putText(h->bootId, boot) || !putText(h->stem, QFile::encodeName(stem)) ||
        !putText(h->dir, spoolFolderName(spoolDir)))
        return nullptr;
    std::memcpy(h->magic, kMagic, sizeof kMagic);
    r->m_header = h;
    r->m_ring = std::make_unique<SpscRing>(static_cast<unsigned char *>(map) + kDataOffset, cap, &h->counters);
    return r;
}

RingFile::~RingFile()
{
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
    if (m_map)
        ::munmap(m_map, m_mapSize);
    if (m_fd >= 0)
        ::close(m_fd);
}

void RingFile::setBase(std::uint64_t spoolByte)
{
    m_header->base.store(spoolByte, std::memory_order_release);
}

void mergeOrphanedRings(const QString &spoolDir)
{
    const QString folder = ringFolder();
    if (folder.isEmpty())
        return;
    const QByteArray boot = bootId();
    const QByteArray dir = spoolFolderName(spoolDir);
    const QStringList names = QDir(folder).entryList({QStringLiteral("ring-*.ring")}, QDir::Files);
    for (const QString &name : names) {
        const QString path = folder + QLatin1Char('/') + name;
        const int fd = openRegularFile(path, O_RDONLY);
        if (fd < 0)
            continue;
        struct stat st {};
        // A live copy holds its ring locked.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
            ::close(fd);
            continue;
        }
        void *map = st.st_size > qint64(kDataOffset)
                        ? ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0)
                        : MAP_FAILED;
        const auto *h = map == MAP_FAILED ? nullptr : static_cast<const RingFile::Header *>(map);
        const bool valid = h && std::memcmp(h->magic, kMagic, sizeof kMagic) == 0 && h->capacity >= 4096 &&
                           (h->capacity & (h->capacity - 1)) == 0 && st.st_size == qint64(kDataOffset + h->capacity) &&
                           h->bootId[sizeof h->bootId - 1] == 0 && h->stem[sizeof h->stem - 1] == 0 &&
                           h->dir[sizeof h->dir - 1] == 0 && !getText(h->stem).contains('/');
        // Another folder's ring is left to the copy that recovers that folder.
        if (valid && getText(h->dir) != dir) {
            ::munmap(map, size_t(st.st_size));
            ::close(fd);
            continue;
        }
        if (valid && getText(h->bootId) == boot && h->base.load() != RingFile::kNotCapturing)
            appendToSpool(spoolDir, *h, static_cast<const unsigned char *>(map) + kDataOffset);
        ::unlink(QFile::encodeName(path).constData());
        if (map != MAP_FAILED)
            ::munmap(map, size_t(st.st_size));
        ::close(fd);
    }
}
