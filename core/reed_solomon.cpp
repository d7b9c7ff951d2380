#include "reed_solomon.h"

#include <array>
#include <cstring>

namespace {

constexpr int fieldSize = 255;
constexpr int wordLength = static_cast<int>(payloadSize);
constexpr int maxParity = wordLength - 1;

struct Field {
    std::array<uint8_t, 2 * fieldSize> exp{}; // doubled: no reduction after adding logs
    std::array<int, 256> log{};
};

constexpr Field makeField()
{
    Field f;
    int x = 1;
    for (int i = 0; i < fieldSize; ++i) {
        f.exp[static_cast<size_t>(i)] = static_cast<uint8_t>(x);
        f.exp[static_cast<size_t>(i + fieldSize)] = static_cast<uint8_t>(x);
        f.log[static_cast<size_t>(x)] = i;
        x <<= 1;
        if (x & 0x100)
            x ^= 0x11d;
    }
    return f;
}

constexpr Field gf = makeField();

uint8_t mul(uint8_t a, uint8_t b)
{
    if (a == 0 || b == 0)
        return 0;
    return gf.exp[static_cast<size_t>(gf.log[a] + gf.log[b])];
}

uint8_t div(uint8_t a, uint8_t b) // b != 0
{
    if (a == 0)
        return 0;
    return gf.exp[static_cast<size_t>(gf.log[a] + fieldSize - gf.log[b])];
}

// alpha^e for any e >= 0.
uint8_t power(int e)
{
    return gf.exp[static_cast<size_t>(e % fieldSize)];
}

// p(x) at x, coefficients lowest degree first.
uint8_t evaluate(const uint8_t* p, int terms, uint8_t x)
{
    uint8_t y = 0;
    for (int i = terms - 1; i >= 0; --i)
        y = static_cast<uint8_t>(mul(y, x) ^ p[i]);
    return y;
}

using Poly = std::array<uint8_t, maxParity + 1>; // lowest degree first

// Byte i of the word is the coefficient of x^(59 - i): its locator.
int locatorPower(int index)
{
    return wordLength - 1 - index;
}

// Syndrome S_j = r(alpha^j).
uint8_t syndrome(const uint8_t word[payloadSize], int j)
{
    const uint8_t root = power(j);
    uint8_t sum = 0;
    for (int i = 0; i < wordLength; ++i)
        sum = static_cast<uint8_t>(mul(sum, root) ^ word[i]);
    return sum;
}

// The first `parity` syndromes; true when all are zero.
bool syndromes(const uint8_t word[payloadSize], int parity, Poly& s)
{
    bool clean = true;
    for (int j = 0; j < parity; ++j) {
        s[static_cast<size_t>(j)] = syndrome(word, j);
        clean = clean && s[static_cast<size_t>(j)] == 0;
    }
    return clean;
}

} // namespace

void rsEncode(uint8_t word[payloadSize], int dataBytes)
{
    if (dataBytes < 1 || dataBytes > maxParity)
        return;
    const int parity = wordLength - dataBytes;
    // g(x) = (x - alpha^0) ... (x - alpha^(parity-1)), lowest degree first.
    Poly g{};
    g[0] = 1;
    for (int j = 0; j < parity; ++j) {
        const uint8_t root = power(j);
        for (int k = j + 1; k > 0; --k)
            g[static_cast<size_t>(k)] = static_cast<uint8_t>(g[static_cast<size_t>(k - 1)] ^
                                                             mul(g[static_cast<size_t>(k)], root));
        g[0] = mul(g[0], root);
    }
    // The remainder of data(x) * x^parity by g(x), highest degree first.
    uint8_t* rem = word + dataBytes;
    std::memset(rem, 0, static_cast<size_t>(parity));
    for (int i = 0; i < dataBytes; ++i) {
        const uint8_t feedback = static_cast<uint8_t>(word[i] ^ rem[0]);
        for (int k = 0; k + 1 < parity; ++k)
            rem[k] = static_cast<uint8_t>(rem[k + 1] ^
                                          mul(feedback, g[static_cast<size_t>(parity - 1 - k)]));
        rem[parity - 1] = mul(feedback, g[0]);
    }
}

int rsZeroSyndromes(const uint8_t word[payloadSize])
{
    int zeros = 0;
    while (zeros < wordLength - minDataBytes && syndrome(word, zeros) == 0)
        ++zeros;
    return zeros;
}

int rsDecode(uint8_t word[payloadSize], int dataBytes, const int* erasures, int erasureCount)
{
    if (dataBytes < 1 || dataBytes > maxParity)
        return -1;
    const int parity = wordLength - dataBytes;
    if (erasureCount < 0 || erasureCount > parity)
        return -1;
    Poly s{};
    if (syndromes(word, parity, s))
        return 0;

    // Berlekamp-Massey, started from the erasures' locator.
    Poly lambda{}, b{};
    lambda[0] = 1;
    for (int k = 0; k < erasureCount; ++k) {
        const uint8_t x = power(locatorPower(erasures[k]));
        for (int i = k + 1; i > 0; --i)
            lambda[static_cast<size_t>(i)] ^= mul(lambda[static_cast<size_t>(i - 1)], x);
    }
    b = lambda;
    int length = erasureCount;
    for (int r = erasureCount + 1; r <= parity; ++r) {
        uint8_t delta = 0;
        for (int i = 0; i < r; ++i)
            delta ^= mul(lambda[static_cast<size_t>(i)], s[static_cast<size_t>(r - 1 - i)]);
        // b(x) becomes x * b(x) in both branches below.
        Poly shifted{};
        for (int i = maxParity; i > 0; --i)
            shifted[static_cast<size_t>(i)] = b[static_cast<size_t>(i - 1)];
        if (delta == 0) {
            b = shifted;
            continue;
        }
        Poly next = lambda;
        for (int i = 0; i <= maxParity; ++i)
            next[static_cast<size_t>(i)] ^= mul(delta, shifted[static_cast<size_t>(i)]);
        if (2 * length <= r + erasureCount - 1) {
            length = r + erasureCount - length;
            for (int i = 0; i <= maxParity; ++i)
                b[static_cast<size_t>(i)] = div(lambda[static_cast<size_t>(i)], delta);
        } else {
            b = shifted;
        }
        lambda = next;
    }
    int degree = maxParity;
    while (degree > 0 && lambda[static_cast<size_t>(degree)] == 0)
        --degree;
    // Each wrong byte needs two parity bytes, each erasure one.
    if (degree == 0 || degree != length || 2 * (degree - erasureCount) + erasureCount > parity)
        return -1;

    // Chien search over the word's own positions: a root elsewhere (in the
    // shortened part) means the word is beyond reach.
    std::array<int, maxParity> positions{};
    int found = 0;
    for (int i = 0; i < wordLength && found < degree; ++i)
        if (evaluate(lambda.data(), degree + 1, power(fieldSize - locatorPower(i))) == 0)
            positions[static_cast<size_t>(found++)] = i;
    if (found != degree)
        return -1;

    // Forney: e = X * omega(1/X) / lambda'(1/X), omega = s * lambda mod x^parity.
    Poly omega{};
    for (int i = 0; i < parity; ++i)
        for (int k = 0; k <= i && k <= degree; ++k)
            omega[static_cast<size_t>(i)] ^=
                mul(s[static_cast<size_t>(i - k)], lambda[static_cast<size_t>(k)]);
    Poly derivative{};
    for (int i = 1; i <= degree; i += 2)
        derivative[static_cast<size_t>(i - 1)] = lambda[static_cast<size_t>(i)];
    std::array<uint8_t, payloadSize> corrected{};
    std::memcpy(corrected.data(), word, payloadSize);
    int changed = 0;
    for (int k = 0; k < found; ++k) {
        const int at = positions[static_cast<size_t>(k)];
        const uint8_t x = power(locatorPower(at));
        const uint8_t xInverse = power(fieldSize - locatorPower(at));
        const uint8_t denominator = evaluate(derivative.data(), degree, xInverse);
        if (denominator == 0)
            return -1;
        const uint8_t value = mul(x, div(evaluate(omega.data(), parity, xInverse), denominator));
        corrected[static_cast<size_t>(at)] ^= value;
        changed += value != 0 ? 1 : 0;
    }
    // A word is only handed back as corrected when it is a codeword.
    if (!syndromes(corrected.data(), parity, s))
        return -1;
    std::memcpy(word, corrected.data(), payloadSize);
    return changed;
}
