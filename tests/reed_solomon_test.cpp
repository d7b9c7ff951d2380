// The payload code: what it corrects, and that beyond its reach it says so
// or, rarely, lands on another codeword, never on anything else.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <random>

#include "reed_solomon.h"

namespace {

using Word = std::array<uint8_t, payloadSize>;

Word randomCodeword(std::mt19937& rng, int dataBytes)
{
    Word w{};
    for (int i = 0; i < dataBytes; ++i)
        w[static_cast<size_t>(i)] = static_cast<uint8_t>(rng());
    rsEncode(w.data(), dataBytes);
    return w;
}

// Puts a nonzero error on `count` distinct random positions; returns them.
std::vector<int> damage(std::mt19937& rng, Word& w, int count)
{
    std::vector<int> at(payloadSize);
    std::iota(at.begin(), at.end(), 0);
    std::shuffle(at.begin(), at.end(), rng);
    at.resize(static_cast<size_t>(count));
    for (int i : at)
        w[static_cast<size_t>(i)] ^= static_cast<uint8_t>(1 + rng() % 255);
    return at;
}

int distance(const Word& a, const Word& b)
{
    int d = 0;
    for (size_t i = 0; i < payloadSize; ++i)
        d += a[i] != b[i] ? 1 : 0;
    return d;
}

} // namespace

TEST(ReedSolomon, CorrectsErrorsAndErasuresUpToTheLimit)
{
    std::mt19937 rng(7);
    for (int dataBytes : {20, 32, 40, 58}) {
        const int parity = static_cast<int>(payloadSize) - dataBytes;
        for (int erased = 0; erased <= parity; erased += std::max(1, parity / 4)) {
            for (int trial = 0; trial < 50; ++trial) {
                const Word sent = randomCodeword(rng, dataBytes);
                Word got = sent;
                const int errors = (parity - erased) / 2;
                const std::vector<int> at = damage(rng, got, errors + erased);
                // The first `erased` damaged positions are the ones flagged.
                EXPECT_EQ(rsDecode(got.data(), dataBytes, at.data(), erased), errors + erased)
                    << dataBytes << " data bytes, " << errors << " errors, " << erased
                    << " erasures";
                EXPECT_EQ(got, sent);
            }
        }
        Word clean = randomCodeword(rng, dataBytes);
        const Word copy = clean;
        EXPECT_EQ(rsDecode(clean.data(), dataBytes), 0);
        EXPECT_EQ(clean, copy);
    }
}

TEST(ReedSolomon, BeyondTheLimitSaysUncorrectableOrFindsAnotherCodeword)
{
    std::mt19937 rng(11);
    for (int dataBytes : {40, 32}) {
        const int limit = (static_cast<int>(payloadSize) - dataBytes) / 2;
        int refused = 0;
        for (int trial = 0; trial < 2000; ++trial) {
            const Word sent = randomCodeword(rng, dataBytes);
            Word got = sent;
            damage(rng, got, limit + 1 + trial % 4);
            const Word received = got;
            const int changed = rsDecode(got.data(), dataBytes);
            if (changed < 0) {
                EXPECT_EQ(got, received) << "an uncorrectable word must be left as it was";
                ++refused;
                continue;
            }
            // A miscorrection is still a codeword within reach of what came.
            Word check = got;
            EXPECT_EQ(rsDecode(check.data(), dataBytes), 0);
            EXPECT_LE(distance(got, received), limit);
            EXPECT_EQ(distance(got, received), changed);
            EXPECT_NE(got, sent);
        }
        // Shortening leaves most of the field's positions outside the word.
        EXPECT_GE(refused, 1990) << dataBytes << " data bytes";
    }
}
