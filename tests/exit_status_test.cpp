// wmextract's exit status from the counts of a pass alone.
#include <gtest/gtest.h>

#include "exit_status.h"

TEST(ExitStatus, FromTheCountsOfAPass)
{
    Tally clean;
    clean.frames = 10;
    AlignmentTotals inStep;
    inStep.firstRecord = 0;
    inStep.lastRecord = 9;
    inStep.matched = 10;
    EXPECT_EQ(exitStatus(clean, nullptr, false), 0);
    EXPECT_EQ(exitStatus(clean, nullptr, true), 0);
    EXPECT_EQ(exitStatus(clean, &inStep, true), 0);

    // Exact payloads out of step: each kind of timing change alone.
    for (int kind = 0; kind < 3; ++kind) {
        AlignmentTotals t = inStep;
        (kind == 0 ? t.missing : kind == 1 ? t.repeated : t.outOfOrder) = 1;
        EXPECT_EQ(exitStatus(clean, &t, true), 4) << kind;
        // A frame that differs outranks the timing.
        Tally differs = clean;
        differs.differing = 1;
        EXPECT_EQ(exitStatus(differs, &t, true), 3) << kind;
    }
    // No band in any frame, in either form; one frame with a band is enough
    // for the extract form.
    Tally bandless = clean;
    bandless.noBand = 10;
    EXPECT_EQ(exitStatus(bandless, nullptr, false), 3);
    bandless.noBand = 9;
    EXPECT_EQ(exitStatus(bandless, nullptr, false), 0);

    // A frame beyond the code's reach differs in either form; one the code
    // corrected does not.
    Tally coded = clean;
    coded.corrected = 3;
    EXPECT_EQ(exitStatus(coded, nullptr, false), 0);
    EXPECT_EQ(exitStatus(coded, &inStep, true), 0);
    coded.uncorrectable = 1;
    EXPECT_EQ(exitStatus(coded, nullptr, false), 3);
    coded.differing = 1;
    EXPECT_EQ(exitStatus(coded, &inStep, true), 3);

    // --whole: every record shown in step, from the first to the last.
    WholeCheck whole{true, 10};
    EXPECT_EQ(exitStatus(clean, &inStep, true, whole), 0);
    for (int kind = 0; kind < 4; ++kind) {
        AlignmentTotals t = inStep;
        WholeCheck w = whole;
        if (kind == 0)
            w.records = 12; // a file cut short: the last two never shown
        if (kind == 1)
            t.firstRecord = 1; // a later start
        if (kind == 2)
            t.missing = 1; // a timing change is status 3 with --whole
        if (kind == 3)
            t.repeated = 1;
        EXPECT_EQ(exitStatus(clean, &t, true, w), 3) << kind;
        EXPECT_EQ(exitStatus(clean, &t, true), kind == 0 || kind == 1 ? 0 : 4) << kind;
    }
    // By position: as many records compared as DATA holds.
    Tally byPosition = clean;
    byPosition.recordsUsed = 10;
    EXPECT_EQ(exitStatus(byPosition, nullptr, true, whole), 0);
    byPosition.recordsUsed = 9;
    EXPECT_EQ(exitStatus(byPosition, nullptr, true, whole), 3);
    EXPECT_EQ(exitStatus(byPosition, nullptr, true), 0);
}

TEST(ExitStatus, OfTheClockForm)
{
    Tally clean;
    clean.frames = 10;
    EXPECT_EQ(clockExitStatus(clean, ClockTotals{}), 0);
    for (int kind = 0; kind < 4; ++kind) {
        ClockTotals t;
        (kind == 0   ? t.missing
         : kind == 1 ? t.repeated
         : kind == 2 ? t.outOfOrder
                     : t.restarts) = 1;
        EXPECT_EQ(clockExitStatus(clean, t), 4) << kind;
        // A frame beyond its code outranks the step.
        Tally unread = clean;
        unread.uncorrectable = 1;
        EXPECT_EQ(clockExitStatus(unread, t), 3) << kind;
    }
    Tally bandless = clean;
    bandless.noBand = 10;
    bandless.uncorrectable = 10;
    EXPECT_EQ(clockExitStatus(bandless, ClockTotals{}), 3);
}
