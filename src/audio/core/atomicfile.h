// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Whole-or-nothing file writing, and the safe opening of the files the program reads. Needs
// nothing but Qt Core, so the settings file can use it as well as the device.
#pragma once

#include <QByteArray>
#include <QString>

#include <fcntl.h>

// Writes a file whole or not at all: a temporary file in the target's own folder (for a
// symbolic link, the folder of the link's final target), synced, then renamed into place.
// The temporary file has no name while it is written where the file system allows (O_TMPFILE),
// else a short one, so a name up to the file system's limit works and a crash leaves nothing.
class AtomicFile {
public:
    // NoReplace never replaces anything: when the name is taken it takes the next free one,
    // "name-2.ext", "name-3.ext"..., created without a window in which another writer could
    // take it too.
    enum class Mode { Replace, NoReplace };
    // Follow keeps a symbolic link at the path and replaces its final target (a file the user
    // chose). Replace puts the new file in the place of a link, a FIFO or a device and never
    // writes through it (the program's own files, where such a thing may have been planted).
    enum class Links { Follow, Replace };

    explicit AtomicFile(const QString &path, Mode mode = Mode::Replace, Links links = Links::Follow);
    ~AtomicFile();  // not committed: the temporary file is removed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // 0, or a device error code; reason() then says why. A read-only file, a folder or a
    // device in the target's place are refused here, before anything is written.
    quint32 open();
    int fd() const { return m_fd; }  // the temporary file, open for writing
    // fsync, keep the replaced file's mode (new files 0600), rename, sync the folder.
    quint32 commit();
    void abort();
    // Where the file went (NoReplace may pick a suffixed name); the path as given for Replace.
    QString finalPath() const;
    // The real reason of a failure, in Japanese, for the user.
    QString reason() const { return m_reason; }

    // Records a failure of the caller's own writing to fd() (errno err), so that reason() tells
    // it and commit() refuses; returns the code for a failed write.
    quint32 failWrite(int err);

    // The user's words for an errno met while saving.
    static QString reasonFor(int err);

private:
    quint32 fail(quint32 code, const QString &why);
    bool linkTemp(const QByteArray &name, int *err);

    QString m_path;
    Mode m_mode;
    Links m_links;
    QByteArray m_dir;    // the folder the file goes to
    QByteArray m_name;   // the file's name in it
    QByteArray m_final;  // the name it got
    QByteArray m_tmpName;  // empty while the temporary file has no name
    int m_dirFd = -1;
    int m_fd = -1;
    bool m_unnamed = false;
    mode_t m_fileMode = 0600;
    uid_t m_uid = uid_t(-1);
    gid_t m_gid = gid_t(-1);
    bool m_failed = false;
    QString m_reason;
};

// Opens a file the program reads: never through a symbolic link, never waiting on a FIFO or
// a device, and only a regular file. Returns -1 with errno set (ELOOP for a link, EINVAL for
// anything that is not a regular file).
int openRegularFile(const QString &path, int flags = O_RDONLY);

// Reads at most maxBytes of a regular file opened as above; false with errno set when the file
// could not be opened or read (ENOENT when it does not exist).
bool readRegularFile(const QString &path, qint64 maxBytes, QByteArray *out);

// Creates dir and any missing parents, each new one 0700: the folders are the user's alone.
// Each new folder's name is synced into its parent, so a power cut cannot take the folder (and
// what is later written in it) away. True when dir is a folder afterwards.
bool makePrivatePath(const QString &dir);

// Makes the names in dir durable: what was created, renamed or removed there survives a power
// cut only once this has returned true (errno set otherwise).
bool syncFolder(const QString &dir);
