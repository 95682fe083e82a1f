// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Makes a folder refuse new files for the lifetime of the guard, also for root: permission
// bits do not stop root, so as root the folder gets the immutable attribute instead.
#pragma once

#include <QFile>
#include <QProcess>
#include <QString>

#include <unistd.h>

class Unwritable {
public:
    explicit Unwritable(QString dir) : m_dir(std::move(dir)) {
        if (::geteuid() != 0) {
            m_ok = QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
            m_viaAttribute = false;
            if (!m_ok)
                m_why = QStringLiteral("cannot change the permissions of ") + m_dir;
            return;
        }
        m_ok = chattr(QStringLiteral("+i"));
        if (!m_ok)
            m_why = QStringLiteral("chattr +i is not available or not supported on this file system: ") +
                    m_error;
    }
    ~Unwritable() {
        if (!m_ok)
            return;
        if (m_viaAttribute)
            chattr(QStringLiteral("-i"));
        else
            QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                             QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                             QFile::ExeOther);
    }
    Unwritable(const Unwritable &) = delete;
    Unwritable &operator=(const Unwritable &) = delete;

    bool ok() const { return m_ok; }
    const QString &why() const { return m_why; }

private:
    bool chattr(const QString &flag) {
        QProcess p;
        p.start(QStringLiteral("chattr"), {flag, m_dir});
        if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_error = QString::fromLocal8Bit(p.readAllStandardError()).trimmed() + p.errorString();
            return false;
        }
        return true;
    }

    QString m_dir;
    QString m_why;
    QString m_error;
    bool m_ok = false;
    bool m_viaAttribute = true;
};
