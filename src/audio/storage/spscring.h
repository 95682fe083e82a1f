// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A byte ring for exactly one producer thread and one consumer thread, allocated once.
// Neither side blocks or allocates, so the real-time thread may use either end.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>

class SpscRing {
public:
    explicit SpscRing(size_t capacity)
    {
        size_t cap = 1;
        while (cap < capacity)
            cap <<= 1;
        m_cap = cap;
        m_buf = std::make_unique<unsigned char[]>(cap);
    }

    size_t capacity() const { return m_cap; }
    size_t readable() const { return m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_acquire); }
    size_t writable() const { return m_cap - readable(); }

    // Producer side. Writes up to len bytes; returns how many.
    size_t write(const void *data, size_t len)
    {
        const size_t w = m_write.load(std::memory_order_relaxed);
        const size_t r = m_read.load(std::memory_order_acquire);
        len = std::min(len, m_cap - (w - r));
        const size_t at = w & (m_cap - 1);
        const size_t first = std::min(len, m_cap - at);
        std::memcpy(m_buf.get() + at, data, first);
        std::memcpy(m_buf.get(), static_cast<const unsigned char *>(data) + first, len - first);
        m_write.store(w + len, std::memory_order_release);
        return len;
    }

    // Consumer side. Reads up to len bytes; returns how many.
    size_t read(void *data, size_t len)
    {
        const size_t r = m_read.load(std::memory_order_relaxed);
        const size_t w = m_write.load(std::memory_order_acquire);
        len = std::min(len, w - r);
        const size_t at = r & (m_cap - 1);
        const size_t first = std::min(len, m_cap - at);
        std::memcpy(data, m_buf.get() + at, first);
        std::memcpy(static_cast<unsigned char *>(data) + first, m_buf.get(), len - first);
        m_read.store(r + len, std::memory_order_release);
        return len;
    }

    // Only while neither side runs.
    void reset()
    {
        m_read.store(0);
        m_write.store(0);
    }

private:
    size_t m_cap = 0;
    std::unique_ptr<unsigned char[]> m_buf;
    alignas(64) std::atomic<size_t> m_write{0};
    alignas(64) std::atomic<size_t> m_read{0};
};
