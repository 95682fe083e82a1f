// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Asks logind not to suspend the machine while a recording runs. Where there is no system bus
// or no logind (a container, CI), it quietly does nothing.
#pragma once

#include <QString>

class SleepInhibitor {
public:
    SleepInhibitor() = default;
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;

    // Takes or releases the inhibitor lock; repeating the current state does nothing.
    void setInhibited(bool on, const QString &why);
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
