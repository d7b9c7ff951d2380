// On Linux, where the output's file system can share the source's blocks
// (XFS with reflink, btrfs, and any other that clones ranges), the source is
// cloned into the output and only the blocks that hold each frame's stamped
// spans are written. Where it cannot (ext4, tmpfs, across file systems), an
// in-kernel copy would move every byte and then write the stamped spans a
// second time; instead each frame is streamed through a pipe with splice,
// its stamped spans written in their place, so that its bytes are copied
// once, as cat's own copy does. A YUV4MPEG2 stream is copied alike, its
// header and FRAME lines with the unchanged bytes: output offsets are the
// source's, and each frame's spans lie after its FRAME line, found with
// pread. An output in append mode, or a file system that refuses splice, is
// streamed through the frame buffer.
#include "frame_run.h"

#if defined(__linux__)

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

namespace {

constexpr uint64_t blockSize = 4096;

uint64_t roundUp(uint64_t bytes)
{
    return (bytes + blockSize - 1) / blockSize * blockSize;
}

bool isRegular(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Refusals to clone after which streaming can carry on as if nothing had
// been tried: no sharing there, other file systems, offsets off the block
// grid, old kernels.
bool cloneUnsupported(int err)
{
    return err == EXDEV || err == EINVAL || err == EBADF || err == ENOSYS || err == EOPNOTSUPP ||
           err == ENOTTY || err == EPERM || err == ETXTBSY || err == EISDIR;
}

// Shares `bytes` of the source at `inAt` as the output's bytes at `outAt`.
// False, with errno set, when the file system refuses or fails.
bool shareBlocks(int inFd, off_t inAt, int outFd, off_t outAt, uint64_t bytes)
{
    struct file_clone_range range = {};
    range.src_fd = inFd;
    range.src_offset = static_cast<uint64_t>(inAt);
    range.src_length = bytes;
    range.dest_offset = static_cast<uint64_t>(outAt);
    int done = 0;
    do
        done = ioctl(outFd, FICLONERANGE, &range);
    while (done != 0 && errno == EINTR);
    return done == 0;
}

// Failures that are the output's rather than the source's.
bool outputFault(int err)
{
    return err == ENOSPC || err == EFBIG || err == EDQUOT || err == EROFS;
}

// XFS preallocates copy-on-write space in large extents unless told
// otherwise; a block at a time keeps the output's extra space to the
// stamped blocks. Refused elsewhere, which changes nothing.
void limitCopyOnWritePreallocation(int fd)
{
#if defined(FS_IOC_FSGETXATTR) && defined(FS_XFLAG_COWEXTSIZE)
    struct fsxattr attr = {};
    if (ioctl(fd, FS_IOC_FSGETXATTR, &attr) != 0)
        return;
    attr.fsx_xflags |= FS_XFLAG_COWEXTSIZE;
    attr.fsx_cowextsize = static_cast<uint32_t>(blockSize);
    (void)ioctl(fd, FS_IOC_FSSETXATTR, &attr);
#else
    (void)fd;
#endif
}

bool readFully(int fd, uint8_t* buf, size_t bytes, off_t at)
{
    while (bytes > 0) {
        const ssize_t n = pread(fd, buf, bytes, at);
        if (n <= 0) {
            if (n == 0)
                errno = 0; // the source shrank under us
            if (n < 0 && errno == EINTR)
                continue;
            return false;
        }
        buf += n;
        bytes -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

bool writeFully(int fd, const uint8_t* buf, size_t bytes, off_t at)
{
    while (bytes > 0) {
        const ssize_t n = pwrite(fd, buf, bytes, at);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                errno = 0;
            return false;
        }
        buf += n;
        bytes -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Where the source and the output stand: offsets below count from their
// starts (the source's where its stream begins, header included), and are
// the same in both.
struct CopyPlaces {
    int inFd;
    int outFd;
    off_t sourceStart;
    off_t outputStart;
    uint64_t sourceBytes; // the source's bytes from its start
};

// Where one frame lies in the source: its start, its FRAME line's length
// (0 for raw video), and its end.
struct FrameSpot {
    uint64_t start = 0;
    uint64_t line = 0;
    uint64_t end = 0;
};

// Finds the frame that starts `start` bytes in: false where there is no
// whole frame there (the end, an incomplete frame, or a YUV4MPEG2 frame
// without its FRAME line, all of which streaming then meets and says), and
// `failed`, with errno set, on a read error.
bool locateFrame(const FrameRun& run, const CopyPlaces& at, uint64_t start, FrameSpot& spot,
                 bool& failed)
{
    failed = false;
    spot.start = start;
    spot.line = 0;
    if (run.in.layout.y4m) {
        char line[maxY4mLine];
        const auto want = static_cast<size_t>(
            std::min<uint64_t>(maxY4mLine, at.sourceBytes > start ? at.sourceBytes - start : 0));
        ssize_t got = 0;
        do
            got = pread(at.inFd, line, want, at.sourceStart + static_cast<off_t>(start));
        while (got < 0 && errno == EINTR);
        if (got < 0) {
            failed = true;
            return false;
        }
        const auto* feed =
            static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(got)));
        if (feed == nullptr || !isY4mFrameHeader(line, static_cast<size_t>(feed - line)))
            return false;
        spot.line = static_cast<uint64_t>(feed - line) + 1;
    }
    spot.end = start + spot.line + frameSize;
    return spot.end <= at.sourceBytes;
}

// Copies bytes [from, to) of the source into the output with plain reads
// and writes (frameBuf is the scratch space). Returns 0, or the status.
int copyBytes(FrameRun& run, const CopyPlaces& at, uint64_t from, uint64_t to)
{
    const auto bytes = static_cast<size_t>(to - from);
    if (!readFully(at.inFd, frameBuf, bytes, at.sourceStart + static_cast<off_t>(from)))
        return inputError(run, errno);
    if (!writeFully(at.outFd, frameBuf, bytes, at.outputStart + static_cast<off_t>(from)))
        return outputError(run, errno);
    return statusOk;
}

// Stamps the frame at `spot` in the output in place: each stamped span,
// widened to whole blocks filled from the source (and never past
// `wholeEnd`, where the whole frames found end), so that no block shared
// with the source is read back before it is written. Returns 0, or the
// status.
int stampInPlace(FrameRun& run, const CopyPlaces& at, const FrameSpot& spot, uint64_t wholeEnd,
                 const uint8_t wmData[payloadSize])
{
    const uint64_t base = spot.start + spot.line;
    // frameBuf is scratch space here: a span widened to whole blocks is
    // never larger than a frame of the smallest size.
    for (const FrameSpan& span : stampedSpans(frameGeometry)) {
        const uint64_t first = (base + span.offset) / blockSize * blockSize;
        const uint64_t end = std::min(roundUp(base + span.offset + span.length), wholeEnd);
        const auto bytes = static_cast<size_t>(end - first);
        if (!readFully(at.inFd, frameBuf, bytes, at.sourceStart + static_cast<off_t>(first)))
            return inputError(run, errno);
        stampWindow(frameGeometry, wmData, static_cast<int64_t>(first) - static_cast<int64_t>(base),
                    bytes, frameBuf);
        if (!writeFully(at.outFd, frameBuf, bytes, at.outputStart + static_cast<off_t>(first)))
            return outputError(run, errno);
    }
    return statusOk;
}

// Where the last block stamping writes for the frame at `spot` ends: the
// frame can be stamped once the clone reaches there.
uint64_t stampedReach(const FrameSpot& spot, uint64_t wholeEnd)
{
    const FrameSpan last = stampedSpans(frameGeometry)[2];
    return std::min(roundUp(spot.start + spot.line + last.offset + last.length), wholeEnd);
}

// Positions both files `copied` bytes past their starts, where streaming
// carries on. Returns 0, or the status.
int handOver(FrameRun& run, const CopyPlaces& at, uint64_t copied, bool& streamRest)
{
    streamRest = true;
    run.in.framesRead = run.frameCount;
    if (fseeko(run.in.stream.pFile, at.sourceStart + static_cast<off_t>(copied), SEEK_SET) != 0)
        return inputError(run, errno);
    if (!cutFileTo(run.out.pFile, copied))
        return outputError(run, errno);
    return statusOk;
}

// A pipe that frames cross between the source and the output, and how the
// source has answered so far.
struct SplicePipe {
    int fds[2] = {-1, -1};
    bool moved = false;   // a byte has crossed: refusals are failures now
    bool refused = false; // the first splice was refused: stream instead
    bool ended = false;   // the source ended first
    ~SplicePipe()
    {
        for (int fd : fds)
            if (fd >= 0)
                close(fd);
    }
};

bool spliceUnsupported(int err)
{
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF;
}

// Moves `bytes` of the source from `inAt` to the output's offset through
// the pipe: the kernel hands the source's pages to the pipe and copies them
// once into the output. Returns 0, or the status.
int spliceBytes(FrameRun& run, const CopyPlaces& at, SplicePipe& pipe, off_t inAt, size_t bytes)
{
    while (bytes > 0 && !pipe.ended) {
        const ssize_t in = splice(at.inFd, &inAt, pipe.fds[1], nullptr, bytes, SPLICE_F_MOVE);
        if (in < 0 && errno == EINTR)
            continue;
        pipe.refused = in < 0 && !pipe.moved && spliceUnsupported(errno);
        if (in < 0)
            return pipe.refused ? statusOk : inputError(run, errno);
        pipe.ended = in == 0;
        for (ssize_t left = in; left > 0;) {
            const ssize_t out = splice(pipe.fds[0], nullptr, at.outFd, nullptr,
                                       static_cast<size_t>(left), SPLICE_F_MOVE);
            if (out < 0 && errno == EINTR)
                continue;
            pipe.refused = out < 0 && !pipe.moved && spliceUnsupported(errno);
            if (out <= 0)
                return pipe.refused ? statusOk : outputError(run, out == 0 ? 0 : errno);
            pipe.moved = true;
            left -= out;
        }
        bytes -= static_cast<size_t>(in);
    }
    return statusOk;
}

// Streams whole frames from byte `from` of the source on, where the
// output's whole frames end: the unchanged bytes (FRAME lines included)
// spliced, the stamped spans written from frameBuf between them. Returns
// 0, or the status.
int spliceFrames(FrameRun& run, const CopyPlaces& at, uint64_t from, bool& streamRest)
{
    // Whatever a clone put past the whole frames goes, and the output's
    // offset is where the next frame belongs.
    if (!cutFileTo(run.out.pFile, from))
        return outputError(run, errno);
    SplicePipe pipe;
    if (pipe2(pipe.fds, O_CLOEXEC) != 0)
        return handOver(run, at, from, streamRest);
    // A 1 MiB pipe moves the largest unchanged piece in two steps; where the
    // system allows less, the default serves.
    (void)fcntl(pipe.fds[1], F_SETPIPE_SZ, 1 << 20);
    FrameSpot spot;
    bool failed = false;
    for (uint64_t start = from; locateFrame(run, at, start, spot, failed); start = spot.end) {
        if (stopRequested(run))
            return statusOk;
        if (const int status = nextPayload(run))
            return status;
        takeStampTime(run);
        const off_t base = at.sourceStart + static_cast<off_t>(start);
        uint64_t done = 0;
        for (const FrameSpan& span : stampedSpans(frameGeometry)) {
            const uint64_t spanAt = spot.line + span.offset;
            if (const int status = spliceBytes(run, at, pipe, base + static_cast<off_t>(done),
                                               static_cast<size_t>(spanAt - done)))
                return status;
            if (pipe.refused || pipe.ended)
                break;
            stampWindow(frameGeometry, run.wmData.data(), static_cast<int64_t>(span.offset),
                        static_cast<size_t>(span.length), frameBuf);
            if (!writeBlock(run.out.pFile, frameBuf, static_cast<size_t>(span.length)))
                return outputError(run, errno);
            done = spanAt + span.length;
        }
        if (!pipe.refused && !pipe.ended)
            if (const int status = spliceBytes(run, at, pipe, base + static_cast<off_t>(done),
                                               static_cast<size_t>(spot.end - start - done)))
                return status;
        if (pipe.refused || pipe.ended) {
            // The frame in hand is dropped: streaming reads it again, or
            // finds it incomplete.
            run.payloadAhead = true;
            break;
        }
        countFrame(run, spot.end - spot.start);
    }
    if (failed)
        return inputError(run, errno);
    return handOver(run, at, run.keptBytes, streamRest);
}

bool appendsOnly(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_APPEND) != 0;
}

} // namespace

int copyFrames(FrameRun& run, bool& streamRest)
{
    streamRest = true;
    VideoInput& in = run.in;
    CopyPlaces at = {fileno(in.stream.pFile), fileno(run.out.pFile), 0, 0, 0};
    uint64_t sourceBytes = 0, position = 0;
    // Only with a whole frame to write is an existing output emptied. An
    // output in append mode takes every write at its end: streamed. So is a
    // source whose first bytes are still held from telling what it is.
    if (!isRegular(at.outFd) || appendsOnly(at.outFd) || in.aheadAt != in.aheadEnd ||
        !positionInFile(in.stream.pFile, position) ||
        position != in.start + in.layout.headerBytes ||
        !bytesLeftInFile(in.stream.pFile, sourceBytes))
        return statusOk;
    at.sourceStart = static_cast<off_t>(in.start);
    at.outputStart = static_cast<off_t>(outputStart(run.out.pFile));
    at.sourceBytes = in.layout.headerBytes + sourceBytes;
    FrameSpot first;
    bool failed = false;
    if (!locateFrame(run, at, in.layout.headerBytes, first, failed))
        return failed ? inputError(run, errno) : statusOk;

    // The first frame's payload is read before anything is written, as
    // streaming would: data that cannot be read leaves an old output as it
    // was.
    streamRest = false;
    if (const int status = nextPayload(run))
        return status;
    run.payloadAhead = true;
    if (const int status = startOutput(run))
        return status;
    if (run.stoppedBy != 0) // the header's write was broken by a stop
        return statusOk;
    limitCopyOnWritePreallocation(at.outFd);
    // Eight frames a clone, in whole blocks: every clone starts on a block
    // boundary, where the file system can share blocks rather than copy
    // them (eight 1080p frames are exactly 6,075).
    const uint64_t cloneBytes = roundUp(8 * (first.end - first.start));
    uint64_t cloned = 0;           // source bytes shared or copied into the output
    uint64_t wholeEnd = first.end; // where the whole frames found so far end
    uint64_t next = first.start;   // the next frame to stamp
    bool allFound = false;
    FrameSpot spot;
    for (;;) {
        // Frames are found a clone ahead, so that a clone never takes what
        // follows the last whole frame.
        while (!allFound && wholeEnd < cloned + cloneBytes) {
            allFound = !locateFrame(run, at, wholeEnd, spot, failed);
            if (failed)
                return inputError(run, errno);
            wholeEnd = allFound ? wholeEnd : spot.end;
        }
        if (cloned >= wholeEnd)
            break;
        if (stopRequested(run))
            return statusOk;
        const uint64_t cloneEnd = std::min(cloned + cloneBytes, wholeEnd);
        // The last whole frame may end inside a block: that block is
        // written, so that the incomplete frame after it is never shared.
        const uint64_t sharedEnd = cloneEnd / blockSize * blockSize;
        if (!shareBlocks(at.inFd, at.sourceStart + static_cast<off_t>(cloned), at.outFd,
                         at.outputStart + static_cast<off_t>(cloned), sharedEnd - cloned)) {
            const int err = errno;
            if (!cloneUnsupported(err))
                return outputFault(err) ? outputError(run, err) : inputError(run, err);
            // Streaming takes over after the frames stamped.
            return spliceFrames(run, at, next, streamRest);
        }
        if (sharedEnd < cloneEnd)
            if (const int status = copyBytes(run, at, sharedEnd, cloneEnd))
                return status;
        cloned = cloneEnd;
        // Each frame whose stamped blocks the output now holds is stamped.
        while (next < wholeEnd && locateFrame(run, at, next, spot, failed) &&
               stampedReach(spot, wholeEnd) <= cloned) {
            if (stopRequested(run))
                return statusOk;
            if (const int status = nextPayload(run))
                return status;
            takeStampTime(run);
            if (const int status = stampInPlace(run, at, spot, wholeEnd, run.wmData.data()))
                return status;
            countFrame(run, spot.end - spot.start);
            next = spot.end;
        }
        if (failed)
            return inputError(run, errno);
    }
    // Streaming reads what follows, as it would have: an incomplete last
    // frame, or frames added to the source meanwhile.
    return handOver(run, at, run.keptBytes, streamRest);
}

#else

int copyFrames(FrameRun&, bool& streamRest)
{
    streamRest = true;
    return statusOk;
}

#endif
