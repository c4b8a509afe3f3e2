#include "mersennetwister.h"

namespace {

// MT19937's parameters, as in the reference implementation mt19937ar.c.
constexpr int shift = 397;
constexpr quint32 matrixA = 0x9908b0dfu;
constexpr quint32 upperMask = 0x80000000u;
constexpr quint32 lowerMask = 0x7fffffffu;

} // namespace

MersenneTwister::MersenneTwister(quint32 seed)
{
    m_state[0] = seed;
    for (int i = 1; i < stateSize; ++i) {
        const quint32 previous = m_state[i - 1];
        m_state[i] = 1812433253u * (previous ^ (previous >> 30)) + quint32(i);
    }
}

void MersenneTwister::twist()
{
    for (int i = 0; i < stateSize; ++i) {
        const quint32 y = (m_state[i] & upperMask) | (m_state[(i + 1) % stateSize] & lowerMask);
        m_state[i] = m_state[(i + shift) % stateSize] ^ (y >> 1) ^ ((y & 1u) ? matrixA : 0u);
    }
    m_next = 0;
}

quint32 MersenneTwister::next()
{
    if (m_next >= stateSize)
        twist();
    quint32 y = m_state[m_next++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9d2c5680u;
    y ^= (y << 15) & 0xefc60000u;
    y ^= y >> 18;
    return y;
}

quint32 MersenneTwister::uniform(quint32 upper)
{
    constexpr quint64 range32 = quint64(1) << 32;
    const quint64 range = quint64(upper) + 1;
    quint64 product = quint64(next()) * range;
    quint64 low = product & (range32 - 1);
    if (low < range) {
        const quint64 threshold = (range32 - range) % range;
        while (low < threshold) {
            product = quint64(next()) * range;
            low = product & (range32 - 1);
        }
    }
    return quint32(product >> 32);
}
