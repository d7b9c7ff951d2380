#include "named_files.h"

#include <array>
#include <cerrno>
#include <cstring>

#include "platform.h"

bool isStandardStreamName(const char* name)
{
    return std::strcmp(name, "-") == 0;
}

FILE* openInputName(const char* name, Stream& owner)
{
    if (isStandardStreamName(name)) {
        useForData(stdin);
        return stdin;
    }
    owner.reset(openInputFile(name));
    return owner.get();
}

namespace {

// Whether the file opened is standard error where that is a
// regular file: the messages written there would overwrite an output that
// starts at its beginning, and the output them. A terminal or a pipe has
// no such offset.
bool isMessagesFile(FILE* pFile)
{
    uint64_t bytes = 0;
    return bytesLeftInFile(stderr, bytes) && isSameFile(pFile, stderr);
}

} // namespace

FILE* openOutputName(const char* name, std::initializer_list<FILE*> inputs, Stream& owner)
{
    if (!isStandardStreamName(name)) {
        owner.reset(openOutputFile(name, inputs));
        if (owner.get() != nullptr && isMessagesFile(owner.get())) {
            owner.reset();
            errno = EBUSY;
        }
        return owner.get();
    }
    // What goes to a standard output closed at start would vanish.
    if (wasClosedAtStart(stdout)) {
        errno = EBADF;
        return nullptr;
    }
    // Standard output already taken by another output is that output,
    // whether or not the platform can tell a pipe's identity.
    for (FILE* pInput : inputs) {
        if (pInput == stdout || isSameFile(stdout, pInput)) {
            errno = EBUSY;
            return nullptr;
        }
    }
    useForData(stdout);
    // Where the shell left it, found before a byte is written.
    (void)outputStart(stdout);
    return stdout;
}

const char* openFailureReason(const char* name, int err, std::initializer_list<HeldFile> inputs)
{
    const bool standard = isStandardStreamName(name);
    if (standard && wasClosedAtStart(stdout))
        return "standard output was closed";
    for (const HeldFile& input : inputs) {
        if (input.pFile != nullptr &&
            (standard ? input.pFile == stdout || isSameFile(stdout, input.pFile)
                      : namesOpenFile(name, input.pFile)))
            return input.refusal;
    }
    if (!standard && err == EBUSY && namesOpenFile(name, stderr))
        return "it is standard error, where the messages go";
    if (err == EAGAIN)
        return "another program is using it";
    return ioReason(err);
}

FILE* openFreshOutput(const char* name, bool force, std::initializer_list<HeldFile> inputs,
                      Stream& owner, const char*& reason)
{
    reason = nullptr;
    std::array<FILE*, 5> files{};
    size_t count = 0;
    for (const HeldFile& input : inputs) {
        if (count < files.size())
            files[count++] = input.pFile;
    }
    FILE* pFile = openOutputName(name, {files[0], files[1], files[2], files[3], files[4]}, owner);
    if (pFile == nullptr)
        reason = openFailureReason(name, errno, inputs);
    // The file opened is the one asked, not whatever the name meant a
    // moment before. Standard output keeps what it holds and is written
    // after it.
    else if (!force && pFile != stdout && hasContent(pFile))
        reason = "it already holds data (--force replaces it)";
    else if (!cutFileTo(pFile, 0))
        reason = ioReason(errno);
    if (reason != nullptr) {
        owner.reset();
        return nullptr;
    }
    return pFile;
}
