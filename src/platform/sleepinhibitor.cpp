// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sleepinhibitor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

SleepInhibitor::~SleepInhibitor() {
    setInhibited(false, {});
}

void SleepInhibitor::setInhibited(bool on, const QString &why) {
    if (!on) {
        if (m_fd >= 0)
            ::close(m_fd);  // closing the descriptor is what releases the lock
        m_fd = -1;
        return;
    }
    if (m_fd >= 0)
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Tavrin") << why << QStringLiteral("block");
    // A short timeout: a bus without logind must not hold up the Record command.
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus.call(call, QDBus::Block, 1000);
    if (reply.isValid() && reply.value().isValid())
        m_fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}
