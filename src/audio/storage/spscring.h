// SPDX-FileCopyrightText: The Tavrin developers
// SPDX-License-Identifier: GPL-3.0-or-later

// A byte ring for exactly one producer thread and one consumer thread, allocated once.
// Neither side blocks or allocates, so the real-time thread may use either end. Its bytes
// and its two counters live in memory of its own, or in memory the caller gives (a shared
// mapping of a file, which outlives the process).
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

class SpscRing {
public:
    // The counters: bytes ever written and ever consumed.
    struct Counters {
        alignas(64) std::atomic<std::uint64_t> written{0};
        alignas(64) std::atomic<std::uint64_t> consumed{0};
    };
    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

    explicit SpscRing(size_t capacity)
    {
        size_t cap = 1;
        while (cap < capacity)
            cap <<= 1;
        m_cap = cap;
        m_own = std::make_unique<unsigned char[]>(cap);
        m_ownCounters = std::make_unique<Counters>();
        m_buf = m_own.get();
        m_counters = m_ownCounters.get();
    }
    // Over memory the caller keeps alive: capacity (a power of two) bytes at buf.
    SpscRing(unsigned char *buf, size_t capacity, Counters *counters)
        : m_cap(capacity), m_buf(buf), m_counters(counters)
    {
    }

    size_t capacity() const { return m_cap; }
    size_t readable() const { return size_t(written() - consumed()); }
    size_t writable() const { return m_cap - readable(); }
    std::uint64_t written() const { return m_counters->written.load(std::memory_order_acquire); }
    std::uint64_t consumed() const { return m_counters->consumed.load(std::memory_order_acquire); }

    // Producer side. Writes up to len bytes; returns how many.
    size_t write(const void *data, size_t len)
    {
        const std::uint64_t w = m_counters->written.load(std::memory_order_relaxed);
        len = std::min(len, m_cap - size_t(w - consumed()));
        const size_t at = size_t(w & (m_cap - 1));
        const size_t first = std::min(len, m_cap - at);
        std::memcpy(m_buf + at, data, first);
        std::memcpy(m_buf, static_cast<const unsigned char *>(data) + first, len - first);
        m_counters->written.store(w + len, std::memory_order_release);
        return len;
    }

    // Consumer side. Copies up to len bytes out without consuming them; returns how many.
    size_t peek(void *data, size_t len) const
    {
        const std::uint64_t r = m_counters->consumed.load(std::memory_order_relaxed);
        len = std::min(len, size_t(written() - r));
        const size_t at = size_t(r & (m_cap - 1));
        const size_t first = std::min(len, m_cap - at);
        std::memcpy(data, m_buf + at, first);
        std::memcpy(static_cast<unsigned char *>(data) + first, m_buf, len - first);
        return len;
    }
    // Consumer side: lets the producer have len bytes back.
    void consume(size_t len)
    {
        m_counters->consumed.store(m_counters->consumed.load(std::memory_order_relaxed) + len,
                                   std::memory_order_release);
    }
    // Consumer side. Reads up to len bytes; returns how many.
    size_t read(void *data, size_t len)
    {
        len = peek(data, len);
        consume(len);
        return len;
    }

    // Only while neither side runs.
    void reset()
    {
        m_counters->consumed.store(0);
        m_counters->written.store(0);
    }

private:
    size_t m_cap = 0;
    unsigned char *m_buf = nullptr;
    Counters *m_counters = nullptr;
    std::unique_ptr<unsigned char[]> m_own;
    std::unique_ptr<Counters> m_ownCounters;
};
