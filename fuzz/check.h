#pragma once

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: say which, and stop so that the fuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// Splits the fuzzer's bytes into pieces.
class Input
{
public:
    Input(const unsigned char *data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool empty() const { return m_pos >= m_size; }
    unsigned char byte() { return empty() ? 0 : m_data[m_pos++]; }
    // Up to `max` bytes, their count taken from the input.
    QByteArray bytes(size_t max)
    {
        const size_t n = std::min<size_t>(byte() % (max + 1), m_size - std::min(m_pos, m_size));
        QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(n));
        m_pos += n;
        return out;
    }
    QByteArray rest()
    {
        QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), qsizetype(m_size - m_pos));
        m_pos = m_size;
        return out;
    }

private:
    const unsigned char *m_data;
    size_t m_size;
    size_t m_pos = 0;
};
