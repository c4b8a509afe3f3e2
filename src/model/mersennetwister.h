#pragma once

#include <QtGlobal>

#include <array>

// The 32-bit Mersenne Twister MT19937 (Matsumoto and Nishimura, 1998) with
// the standard seeding and tempering, and the bounded draw the prize shuffle
// is defined with. Written out here rather than taken from <random>: the
// prize order of a scratch-card run is audited and must not change with a
// standard library's choice of distribution.
class MersenneTwister
{
public:
    explicit MersenneTwister(quint32 seed);

    // The next 32-bit output.
    quint32 next();

    // An integer from 0 to `upper` inclusive: the 64-bit product of an output
    // and upper + 1, keeping its high half, with the low halves below
    // (2^32 − (upper + 1)) mod (upper + 1) rejected so that every result is
    // equally likely.
    quint32 uniform(quint32 upper);

private:
    void twist();

    static constexpr int stateSize = 624;
    std::array<quint32, stateSize> m_state;
    int m_next = stateSize;
};
