#include "pairing.h"

PairChoice choosePair(const FrameMatch& match, bool band, bool byContent)
{
    PairChoice choice;
    const bool named = band && match.step != Step::unidentified && !match.pastEnd;
    choice.source = named ? match.record : match.expected;
    choice.by = named && byContent && !match.ambiguous ? PairedBy::record : PairedBy::expected;
    return choice;
}

const char* pairedByName(PairedBy by)
{
    return by == PairedBy::record ? "record" : by == PairedBy::expected ? "expected" : "";
}

void countPair(PairTally& tally, const PairChoice& choice)
{
    ++tally.frames;
    tally.byExpectation += choice.by == PairedBy::expected ? 1 : 0;
}
