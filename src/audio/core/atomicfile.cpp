// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "atomicfile.h"

#include "deviceerror.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr quint32 kNotSaved = MCIERR_FILE_NOT_SAVED;
constexpr quint32 kWriteFailed = MCIERR_FILE_WRITE;

std::atomic<unsigned> g_counter{0};

QByteArray tempName() {
    // Short, so it fits wherever the final name fits; unique within the process by the
    // counter and across processes by the pid and the clock.
    static const char digits[] = "0123456789abcdefghijklmnopqrstuv";
    quint64 v = (quint64(::getpid()) << 24) ^ (quint64(g_counter.fetch_add(1)) << 8) ^ quint64(::clock());
    QByteArray s(".tavr-");
    for (int i = 0; i < 8; ++i, v >>= 5)
        s.append(digits[v & 31]);
    return s + ".tmp";
}

// The file a chain of symbolic links ends at, even when the last one dangles.
QByteArray finalTarget(QByteArray path, int *err) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return path;
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(path.constData(), buf, sizeof buf);
        if (n < 0 || size_t(n) >= sizeof buf) {
            *err = n < 0 ? errno : ENAMETOOLONG;
            return {};
        }
        QByteArray next(buf, n);
        if (!next.startsWith('/'))
            next = path.left(path.lastIndexOf('/') + 1) + next;
        path = next;
    }
    *err = ELOOP;
    return {};
}

QByteArray suffixed(const QByteArray &name, int n) {
    qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0)
        dot = name.size();
    return name.left(dot) + '-' + QByteArray::number(n) + name.mid(dot);
}

QByteArray procPath(int fd) {
    return "/proc/self/fd/" + QByteArray::number(fd);
}

}  // namespace

QString AtomicFile::reasonFor(int err) {
    switch (err) {
    case ENOENT:
        return QStringLiteral("保存先のフォルダーが存在しません。");
    case EACCES:
        return QStringLiteral("保存先のフォルダーに書き込む権限がありません。");
    case EPERM:
        return QStringLiteral("この場所への書き込みは許可されていません。");
    case EROFS:
        return QStringLiteral("保存先は読み取り専用のドライブです。");
    case ENOSPC:
        return QStringLiteral("ディスクの空き容量が足りません。");
    case EDQUOT:
        return QStringLiteral("ディスクの使用量が上限 (クォータ) に達しています。");
    case EFBIG:
        return QStringLiteral("ファイルがこのドライブに置ける大きさを超えています。");
    case ENAMETOOLONG:
        return QStringLiteral("ファイル名またはパスが長すぎます。");
    case EISDIR:
        return QStringLiteral("同じ名前のフォルダーがあります。");
    case ENOTDIR:
        return QStringLiteral("保存先のパスにフォルダーでないものが含まれています。");
    case ELOOP:
        return QStringLiteral("シンボリック リンクが循環しているか、多すぎます。");
    case EIO:
        return QStringLiteral("ディスクの読み書きでエラーが発生しました。");
    case EEXIST:
        return QStringLiteral("使われていないファイル名が見つかりません。");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("開いているファイルが多すぎます。");
    case ENOMEM:
        return QStringLiteral("メモリが不足しています。");
    case ETXTBSY:
        return QStringLiteral("ファイルが使用中です。");
    default:
        return QStringLiteral("システム エラー %1 (%2) が発生しました。")
            .arg(err)
            .arg(QString::fromLatin1(::strerrorname_np(err) ? ::strerrorname_np(err) : "?"));
    }
}

AtomicFile::AtomicFile(const QString &path, Mode mode, Links links)
    : m_path(path), m_mode(mode), m_links(links) {}

AtomicFile::~AtomicFile() {
    abort();
}

quint32 AtomicFile::fail(quint32 code, const QString &why) {
    m_failed = true;
    m_reason = why;
    return code;
}

quint32 AtomicFile::failWrite(int err) {
    return fail(kWriteFailed, reasonFor(err));
}

QString AtomicFile::finalPath() const {
    if (m_mode == Mode::Replace || m_final.isEmpty())
        return m_path;
    return QFile::decodeName(m_dir + '/' + m_final);
}

quint32 AtomicFile::open() {
    abort();
    m_failed = false;
    m_reason.clear();
    if (m_path.isEmpty())
        return fail(kNotSaved, reasonFor(ENOENT));
    QByteArray target = QFile::encodeName(QFileInfo(m_path).absoluteFilePath());
    if (m_path.endsWith(QLatin1Char('/')))
        return fail(kNotSaved, reasonFor(EISDIR));
    // Only a replacing save of the user's own choice writes through a link; a new file never
    // does, since the name is taken.
    if (m_mode == Mode::Replace && m_links == Links::Follow) {
        int err = 0;
        target = finalTarget(target, &err);
        if (target.isEmpty())
            return fail(kNotSaved, reasonFor(err));
    }
    const qsizetype slash = target.lastIndexOf('/');
    m_dir = slash > 0 ? target.left(slash) : QByteArray("/");
    m_name = target.mid(slash + 1);

    m_dirFd = ::open(m_dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0)
        return fail(kNotSaved, errno == EACCES ? QStringLiteral("保存先のフォルダーを開く権限がありません。")
                                               : reasonFor(errno));
    const long nameMax = ::fpathconf(m_dirFd, _PC_NAME_MAX);
    if (nameMax > 0 && m_name.size() > nameMax)
        return fail(kNotSaved, reasonFor(ENAMETOOLONG));

    m_fileMode = 0600;
    if (m_mode == Mode::Replace) {
        struct stat st {};
        if (::fstatat(m_dirFd, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(st.st_mode))
                return fail(kNotSaved, reasonFor(EISDIR));
            if (S_ISREG(st.st_mode)) {
                // Root may write anything, but a file that no one may write is read-only by
                // intent.
                if ((st.st_mode & 0222) == 0 ||
                    ::faccessat(m_dirFd, m_name.constData(), W_OK, AT_EACCESS) != 0) {
                    if ((st.st_mode & 0222) == 0 || errno == EACCES || errno == EPERM)
                        return fail(kNotSaved, QStringLiteral("ファイルが読み取り専用です。"));
                    return fail(kNotSaved, reasonFor(errno));
                }
                m_fileMode = st.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID);
                m_uid = st.st_uid;
                m_gid = st.st_gid;
            } else if (m_links == Links::Follow) {
                // A device or a FIFO the user named; the program's own files (Links::Replace)
                // take the place of whatever was planted there instead.
                return fail(kNotSaved, QStringLiteral("同じ名前の、通常のファイルではないもの (デバイスや名前付きパイプなど) があります。"));
            }
        } else if (errno != ENOENT) {
            return fail(kNotSaved, reasonFor(errno));
        }
    }

    if (::access("/proc/self/fd", X_OK) == 0) {
        m_fd = ::openat(m_dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        m_unnamed = m_fd >= 0;
        if (m_fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return fail(kNotSaved, reasonFor(errno));
    }
    for (int attempt = 0; m_fd < 0 && attempt < 100; ++attempt) {
        m_tmpName = tempName();
        m_fd = ::openat(m_dirFd, m_tmpName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno != EEXIST) {
            const int err = errno;
            m_tmpName.clear();
            // The folder is there (it was opened), yet refuses new files: /proc and the like.
            if (err == ENOENT)
                return fail(kNotSaved, QStringLiteral("この場所にはファイルを作成できません。"));
            return fail(kNotSaved, reasonFor(err));
        }
    }
    if (m_fd < 0) {
        m_tmpName.clear();
        return fail(kNotSaved, reasonFor(EEXIST));
    }
    return 0;
}

// Gives the temporary file the name; false with *err when it cannot (EEXIST: the name is taken).
bool AtomicFile::linkTemp(const QByteArray &name, int *err) {
    int rc;
    if (m_unnamed) {
        rc = ::linkat(AT_FDCWD, procPath(m_fd).constData(), m_dirFd, name.constData(), AT_SYMLINK_FOLLOW);
    } else {
        rc = ::renameat2(m_dirFd, m_tmpName.constData(), m_dirFd, name.constData(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the flag: a hard link cannot replace either.
            rc = ::linkat(m_dirFd, m_tmpName.constData(), m_dirFd, name.constData(), 0);
            if (rc == 0)
                ::unlinkat(m_dirFd, m_tmpName.constData(), 0);
        }
        if (rc == 0)
            m_tmpName.clear();
    }
    *err = rc == 0 ? 0 : errno;
    return rc == 0;
}

quint32 AtomicFile::commit() {
    if (m_fd < 0)
        return m_failed ? kWriteFailed : fail(kNotSaved, reasonFor(EBADF));
    if (m_failed) {
        abort();
        return kWriteFailed;
    }
    if (::fsync(m_fd) != 0) {
        const int err = errno;
        abort();
        return failWrite(err);
    }
    // The mode first, so the name never shows the file to anyone the old one was closed to.
    ::fchmod(m_fd, m_fileMode);
    if ((m_uid != uid_t(-1) && m_uid != ::geteuid()) || (m_gid != gid_t(-1) && m_gid != ::getegid()))
        if (::fchown(m_fd, m_uid, m_gid) != 0) {
            // Only root or a member of the group may; otherwise the file stays ours.
        }

    int err = 0;
    if (m_mode == Mode::NoReplace) {
        bool linked = false;
        for (int n = 1; !linked && n < 10000; ++n) {
            const QByteArray name = n == 1 ? m_name : suffixed(m_name, n);
            linked = linkTemp(name, &err);
            if (linked)
                m_final = name;
            else if (err != EEXIST)
                break;
        }
        if (!linked) {
            abort();
            return fail(kNotSaved, reasonFor(err));
        }
    } else {
        if (m_unnamed) {
            // rename needs a name to move; a short one, for a moment.
            bool linked = false;
            for (int attempt = 0; !linked && attempt < 100; ++attempt) {
                m_tmpName = tempName();
                linked = ::linkat(AT_FDCWD, procPath(m_fd).constData(), m_dirFd, m_tmpName.constData(),
                                  AT_SYMLINK_FOLLOW) == 0;
                err = errno;
                if (!linked && err != EEXIST)
                    break;
            }
            if (!linked) {
                m_tmpName.clear();
                abort();
                return fail(kNotSaved, reasonFor(err));
            }
        }
        if (::renameat(m_dirFd, m_tmpName.constData(), m_dirFd, m_name.constData()) != 0) {
            err = errno;
            abort();
            return fail(kNotSaved, reasonFor(err));
        }
        m_tmpName.clear();
        m_final = m_name;
    }
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    // Until the folder is synced the name can vanish in a power cut, and with it the save.
    const bool named = ::fsync(m_dirFd) == 0;
    const int dirErr = errno;
    ::close(m_dirFd);
    m_dirFd = -1;
    if (!closed)
        return fail(kWriteFailed, reasonFor(EIO));
    if (!named)
        return fail(kWriteFailed, reasonFor(dirErr));
    return 0;
}

void AtomicFile::abort() {
    if (!m_tmpName.isEmpty() && m_dirFd >= 0)
        ::unlinkat(m_dirFd, m_tmpName.constData(), 0);
    m_tmpName.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_dirFd = -1;
    m_unnamed = false;
}

int openRegularFile(const QString &path, int flags) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        const int err = statted ? EINVAL : errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    // Reads of a regular file never block anyway; the flag only kept open() from waiting.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *out) {
    const int fd = openRegularFile(path);
    if (fd < 0)
        return false;
    out->clear();
    char buf[65536];
    bool ok = true;
    while (out->size() < maxBytes) {
        const ssize_t n = ::read(fd, buf, size_t(std::min<qint64>(sizeof buf, maxBytes - out->size())));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        out->append(buf, n);
    }
    const int err = errno;
    ::close(fd);
    errno = err;
    return ok;
}

bool makePrivatePath(const QString &dir) {
    const QByteArray path = QFile::encodeName(QFileInfo(dir).absoluteFilePath());
    for (qsizetype i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path.at(i) != '/')
            continue;
        // mkdir's mode is cut by the umask, which can only make it stricter than 0700.
        const QByteArray part = path.left(i);
        struct stat st {};
        if (::mkdir(part.constData(), 0700) == 0) {
            const QByteArray parent = part.left(std::max<qsizetype>(1, part.lastIndexOf('/')));
            if (!syncFolder(QFile::decodeName(parent)))
                return false;
        } else if (errno != EEXIST && (::stat(part.constData(), &st) != 0 || !S_ISDIR(st.st_mode))) {
            return false;
        }
    }
    struct stat st {};
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool syncFolder(const QString &dir) {
    const int dfd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return false;
    const bool ok = ::fsync(dfd) == 0;
    const int err = errno;
    ::close(dfd);
    errno = err;
    return ok;
}
