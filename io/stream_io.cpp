#include "stream_io.h"

#include "command_line.h"
#include "platform.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>

namespace {

bool standardOutputClosed = false; // by closeOutputStream, as a data output

} // namespace

bool closeOutputStream(FILE* pFile)
{
    standardOutputClosed = standardOutputClosed || pFile == stdout;
    // After a failed flush glibc's fclose can still return 0, so the
    // stream's error state is read before closing.
    bool ok = std::fflush(pFile) == 0 && !std::ferror(pFile);
    int err = errno;
    if (std::fclose(pFile) != 0 && ok) {
        ok = false;
        err = errno;
    }
    errno = err;
    return ok;
}

int finishStandardOutput(const char* program, int status)
{
    if (status != 0 || standardOutputClosed)
        return status;
    standardOutputClosed = true;
    if (closeOutputStream(stdout))
        return 0;
    printNow(stderr, "%s: error writing standard output: %s\n", program, ioReason(errno));
    return 5;
}

void printNow(FILE* pStream, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(pStream, format, args);
    va_end(args);
    std::fflush(pStream);
}

void printUsageError(const char* program, const UsageError& error, const char* usage)
{
    if (error.text[0] != '\0')
        std::fprintf(stderr, "%s: %s\n", program, error.text);
    std::fputs(usage, stderr);
}

const char* plural(int64_t count, const char* one, const char* many)
{
    return count == 1 ? one : many;
}

void reportIgnoredBytes(const char* program, uint64_t bytes)
{
    printNow(stderr, "%s: ignored an incomplete last frame of %" PRIu64 " %s\n", program, bytes,
             plural(static_cast<int64_t>(bytes), "byte", "bytes"));
}

const char* ioReason(int err)
{
    // A short transfer that set no error code has no system reason.
    return err != 0 ? describeError(err) : "short transfer";
}

BlockRead readBlock(FILE* pFile, uint8_t* buffer, size_t bytes, size_t& got)
{
    got = std::fread(buffer, 1, bytes, pFile);
    if (got == bytes)
        return BlockRead::whole;
    if (!std::ferror(pFile))
        return BlockRead::end;
    if (!readEndedByDisconnect())
        return BlockRead::failed;
    std::clearerr(pFile);
    return BlockRead::end;
}

bool writeBlock(FILE* pFile, const uint8_t* buffer, size_t bytes)
{
    errno = 0;
    return std::fwrite(buffer, 1, bytes, pFile) == bytes;
}

void startPieces(PieceOutput& out)
{
    // Nothing held back in a buffer: each piece reaches the file or pipe in
    // one write, and after a failure the file holds exactly what went.
    std::setvbuf(out.stream.pFile, nullptr, _IONBF, 0);
}

bool writePiece(PieceOutput& out, const void* piece, size_t bytes)
{
    if (!writeBlock(out.stream.pFile, static_cast<const uint8_t*>(piece), bytes))
        return false;
    out.kept += bytes;
    return true;
}

bool keepWholePieces(PieceOutput& out)
{
    std::clearerr(out.stream.pFile);
    return cutFileTo(out.stream.pFile, out.kept);
}
