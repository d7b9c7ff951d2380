// Argument parsing of the three programs on any argument vector: a parsed
// command whose names are there and whose video options the tools can take,
// or a usage error; never a crash.
#include <cstdlib>
#include <string>
#include <vector>

#include "argument_words.h"
#include "../../extract/arguments.h"
#include "../../pack/arguments.h"
#include "../../tool/arguments.h"

namespace {

// Options taken are none, or ones the tools can take.
bool videoOptionsValid(const VideoOptions& o)
{
    FrameGeometry g = rawGeometry(o);
    return (o.width == 0) == (o.height == 0) &&
           (o.bitDepth == 0 || o.bitDepth == 8 || o.bitDepth == 10) &&
           geometryProblem(g) == nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ArgumentWords args(data, size);
    const std::vector<const char*>& argv = args.argv;
    const int argc = static_cast<int>(argv.size());
    UsageError error;
    ExtractArgs e;
    if (parseExtractArgs(argc, argv.data(), e, error) && e.form != ExtractForm::help &&
        e.form != ExtractForm::version &&
        (e.video == nullptr || (e.form == ExtractForm::verify) != (e.data != nullptr) ||
         (e.form == ExtractForm::extract && e.payloads == nullptr) ||
         (e.fecDataBytes != 0 && (e.fecDataBytes < 20 || e.fecDataBytes > 58)) ||
         (e.form == ExtractForm::clock && (e.fecDataBytes != 0 || e.payloads != nullptr)) ||
         e.everyMs < 0 || e.everyMs > 86400000 || (e.stamped != nullptr) != (e.paired != nullptr) ||
         (e.paired != nullptr && e.form != ExtractForm::verify)))
        std::abort();
    PackArgs p;
    if (parsePackArgs(argc, argv.data(), p, error) && p.form == PackForm::pack &&
        (p.data == nullptr || p.packed == nullptr || p.dataBytes < 20 || p.dataBytes > 58))
        std::abort();
    StampArgs st;
    if (parseStampArgs(argc, argv.data(), st, error) && st.form == StampForm::stamp &&
        (st.source == nullptr || (st.data == nullptr) != st.clock || st.output == nullptr ||
         !videoOptionsValid(st.videoOptions)))
        std::abort();
    if (e.form != ExtractForm::help && e.form != ExtractForm::version &&
        !videoOptionsValid(e.videoOptions))
        std::abort();
    return 0;
}
