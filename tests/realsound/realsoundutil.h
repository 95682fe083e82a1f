// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// Helpers for tests that run against the wall clock and a real sound server.
#pragma once

#include <QElapsedTimer>
#include <QThread>

#include <cmath>
#include <functional>
#include <vector>

namespace realsound {

// Polls pred every 20 ms for up to timeoutMs; returns whether it came true.
inline bool waitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

// The power of one frequency in a block of samples (Goertzel), normalised to the block.
inline double goertzel(const std::vector<double> &x, size_t from, size_t n, double freq, double rate)
{
    const double w = 2 * M_PI * freq / rate;
    const double c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + n; ++i) {
        const double s0 = x[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - c * s1 * s2) / (double(n) * n);
}

} // namespace realsound
