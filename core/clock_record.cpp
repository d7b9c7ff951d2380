#include "clock_record.h"

#include "reed_solomon.h"

namespace {

constexpr int runAt = 0, counterAt = 8, timeAt = 16, zerosAt = 24;

void putBigEndian(uint64_t value, uint8_t* at)
{
    for (int i = 7; i >= 0; --i) {
        at[i] = static_cast<uint8_t>(value & 0xff);
        value >>= 8;
    }
}

uint64_t getBigEndian(const uint8_t* at)
{
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | at[i];
    return value;
}

} // namespace

void packClockRecord(const ClockRecord& record, uint8_t word[payloadSize])
{
    for (size_t i = 0; i < payloadSize; ++i)
        word[i] = 0;
    putBigEndian(record.run, word + runAt);
    putBigEndian(record.counter, word + counterAt);
    putBigEndian(static_cast<uint64_t>(record.stampedNs), word + timeAt);
    rsEncode(word, clockDataBytes);
}

ClockRead readClockRecord(uint8_t word[payloadSize], ClockRecord& record, int& corrected)
{
    corrected = 0;
    // A black frame reads as zeros throughout, a codeword of every code; a
    // flat grey one as another byte throughout. Neither is a band.
    bool flat = true;
    for (size_t i = 1; i < payloadSize && flat; ++i)
        flat = word[i] == word[0];
    if (flat)
        return ClockRead::flat;
    const int changed = rsDecode(word, clockDataBytes);
    if (changed < 0)
        return ClockRead::uncorrectable;
    // Sixteen zero bytes tell a clock record from another word of the same
    // code, such as wmpack's records at K = 40.
    for (int i = zerosAt; i < clockDataBytes; ++i)
        if (word[i] != 0)
            return ClockRead::notClock;
    // No run is 0: a word that says so is not a clock record either.
    if (getBigEndian(word + runAt) == 0)
        return ClockRead::notClock;
    record.run = getBigEndian(word + runAt);
    record.counter = getBigEndian(word + counterAt);
    record.stampedNs = static_cast<int64_t>(getBigEndian(word + timeAt));
    corrected = changed;
    return ClockRead::ok;
}
