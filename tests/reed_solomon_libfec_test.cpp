// The payload code against an independent one, Debian's libfec: the same
// parity bytes, and the same corrections up to the limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "reed_solomon.h"

#ifdef WM_HAVE_LIBFEC
extern "C" {
#include <fec.h>
}
#endif

TEST(ReedSolomonLibfec, SameParityAndCorrections)
{
#ifndef WM_HAVE_LIBFEC
    GTEST_SKIP() << "libfec is not installed (Debian: libfec-dev; CI installs it)";
#else
    std::mt19937 rng(3);
    for (int dataBytes = minDataBytes; dataBytes <= maxDataBytes; dataBytes += 2) {
        const int parity = static_cast<int>(payloadSize) - dataBytes;
        void* rs = init_rs_char(8, 0x11d, 0, 1, parity, 255 - static_cast<int>(payloadSize));
        ASSERT_NE(rs, nullptr);
        for (int trial = 0; trial < 40; ++trial) {
            std::array<uint8_t, payloadSize> ours{}, theirs{};
            for (int i = 0; i < dataBytes; ++i)
                ours[static_cast<size_t>(i)] = theirs[static_cast<size_t>(i)] =
                    static_cast<uint8_t>(rng());
            rsEncode(ours.data(), dataBytes);
            encode_rs_char(rs, theirs.data(), theirs.data() + dataBytes);
            ASSERT_EQ(ours, theirs) << dataBytes << " data bytes";
            // Erasures first, then errors, within the limit.
            std::array<int, payloadSize> at{};
            const int erased = trial % (parity + 1);
            const int count = erased + (parity - erased) / 2;
            for (int k = 0; k < count; ++k) {
                int i = 0;
                do
                    i = static_cast<int>(rng() % payloadSize);
                while (std::find(at.begin(), at.begin() + k, i) != at.begin() + k);
                at[static_cast<size_t>(k)] = i;
                const auto flip = static_cast<uint8_t>(1 + rng() % 255);
                ours[static_cast<size_t>(i)] ^= flip;
                theirs[static_cast<size_t>(i)] ^= flip;
            }
            std::array<int, payloadSize> theirErasures = at;
            const int ourCount = rsDecode(ours.data(), dataBytes, at.data(), erased);
            const int theirCount = decode_rs_char(rs, theirs.data(), theirErasures.data(), erased);
            EXPECT_EQ(ourCount, theirCount) << dataBytes << " data bytes, " << count << " bytes";
            EXPECT_EQ(ours, theirs);
        }
        free_rs_char(rs);
    }
#endif
}
