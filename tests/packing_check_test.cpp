// Which K the payloads were packed with, found from the words as read.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "packing_check.h"

namespace {

using Record = std::array<uint8_t, payloadSize>;

Record packedWord(std::mt19937& rng, int dataBytes)
{
    Record word{};
    for (int i = 0; i < dataBytes; ++i)
        word[static_cast<size_t>(i)] = static_cast<uint8_t>(rng());
    rsEncode(word.data(), dataBytes);
    return word;
}

// The first frame at which checking `frames` words packed with `packedWith`
// against --fec `given` finds another K, and the K found; {-1, 0} if none.
std::pair<int, int> firstFound(int given, const std::vector<Record>& frames)
{
    PackingCheck check;
    check.dataBytes = given;
    for (size_t f = 0; f < frames.size(); ++f)
        if (const int found = notePacking(check, frames[f].data()))
            return {static_cast<int>(f), found};
    return {-1, 0};
}

} // namespace

TEST(PackingCheck, AWrongKIsFoundFromCleanWordsAndTheRightOneNever)
{
    std::mt19937 rng(31);
    std::vector<Record> at40;
    for (int f = 0; f < 8; ++f)
        at40.push_back(packedWord(rng, 40));
    // Too large by 8 or 4, too small by 10: the first word says so; by one,
    // four words do (a chance zero syndrome is one in 256).
    EXPECT_EQ(firstFound(48, at40), std::make_pair(0, 40));
    EXPECT_EQ(firstFound(44, at40), std::make_pair(0, 40));
    EXPECT_EQ(firstFound(30, at40), std::make_pair(0, 40));
    EXPECT_EQ(firstFound(41, at40), std::make_pair(3, 40));
    EXPECT_EQ(firstFound(39, at40), std::make_pair(0, 40));
    EXPECT_EQ(firstFound(40, at40), std::make_pair(-1, 0));
    // The largest K, two parity bytes: two words.
    std::vector<Record> at58 = {packedWord(rng, 58), packedWord(rng, 58)};
    EXPECT_EQ(firstFound(40, at58), std::make_pair(1, 58));

    // A right-K word with a chance zero beyond its parity, first: it does
    // not outweigh the words after it.
    Record chance;
    do
        chance = packedWord(rng, 40);
    while (rsZeroSyndromes(chance.data()) == 20);
    ASSERT_EQ(rsZeroSyndromes(chance.data()), 21);
    EXPECT_EQ(firstFound(40, {chance}), std::make_pair(-1, 0));
    EXPECT_EQ(firstFound(40, {chance, at40[0], chance, at40[1], chance, at40[2]}),
              std::make_pair(-1, 0));

    // Damaged words, the word of zeros and unpacked random payloads say
    // nothing, however many.
    std::vector<Record> noise;
    for (int f = 0; f < 20000; ++f) {
        Record r = f % 3 == 0 ? Record{} : packedWord(rng, 40);
        if (f % 3 == 1)
            r[static_cast<size_t>(f % 60)] ^= 0x5a;
        if (f % 3 == 2)
            for (uint8_t& b : r)
                b = static_cast<uint8_t>(rng());
        noise.push_back(r);
    }
    for (int given : {20, 32, 40, 48, 58})
        EXPECT_EQ(firstFound(given, noise), std::make_pair(-1, 0)) << given;
}
