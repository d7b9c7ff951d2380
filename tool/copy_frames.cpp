// On Linux, where the output's file system can share the source's blocks
// (XFS with reflink, btrfs, and any other that clones ranges), the source is
// cloned into the output and only the blocks that hold each frame's stamped
// spans are written. Where it cannot (ext4, tmpfs, across file systems), an
// in-kernel copy would move every byte and then write the stamped spans a
// second time; instead each frame is streamed through a pipe with splice,
// its stamped spans written in their place, so that its bytes are copied
// once, as cat's own copy does. An output in append mode, or a file system
// that refuses splice, is streamed through the frame buffer.
#include "frame_run.h"

#if defined(__linux__)

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <numeric>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

namespace {

constexpr uint64_t blockSize = 4096;
// The fewest frames that are a whole number of blocks (eight 1080p frames
// are exactly 6,075): every chunk starts on a block boundary, where a copy
// can share blocks rather than copy them.
uint64_t chunkFrames()
{
    return blockSize / std::gcd(frameSize, blockSize);
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

// Where the source and the output stand, and how many bytes of whole
// frames the source holds from there.
struct CopyPlaces {
    int inFd;
    int outFd;
    off_t sourceStart;
    off_t outputStart;
    uint64_t wholeBytes;
};

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

// Stamps frame `frame` of the output in place: each stamped span, widened
// to whole blocks filled from the source (and never past the whole frames),
// so that no block shared with the source is read back before it is
// written. Returns 0, or the status.
int stampInPlace(FrameRun& run, const CopyPlaces& at, uint64_t frame,
                 const uint8_t wmData[payloadSize])
{
    const uint64_t base = frame * frameSize;
    // frameBuf is scratch space here: a span widened to whole blocks is
    // never larger than a frame of the smallest size.
    for (const FrameSpan& span : stampedSpans(frameGeometry)) {
        const uint64_t first = (base + span.offset) / blockSize * blockSize;
        const uint64_t end =
            std::min((base + span.offset + span.length + blockSize - 1) / blockSize * blockSize,
                     at.wholeBytes);
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

// Positions both files `copied` bytes past their starts, where streaming
// carries on. Returns 0, or the status.
int handOver(FrameRun& run, const CopyPlaces& at, uint64_t copied, bool& streamRest)
{
    streamRest = true;
    if (fseeko(run.in.pFile, at.sourceStart + static_cast<off_t>(copied), SEEK_SET) != 0)
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

// Streams whole frames from byte `from` of the source on: the unchanged
// bytes spliced, the stamped spans written from frameBuf between them.
// Returns 0, or the status.
int spliceFrames(FrameRun& run, const CopyPlaces& at, uint64_t from, bool& streamRest)
{
    SplicePipe pipe;
    if (pipe2(pipe.fds, O_CLOEXEC) != 0)
        return handOver(run, at, from, streamRest);
    // A 1 MiB pipe moves the largest unchanged piece in two steps; where the
    // system allows less, the default serves.
    (void)fcntl(pipe.fds[1], F_SETPIPE_SZ, 1 << 20);
    for (uint64_t frame = from / frameSize; frame < at.wholeBytes / frameSize; ++frame) {
        if (stopRequested(run))
            return statusOk;
        if (const int status = nextPayload(run))
            return status;
        takeStampTime(run);
        const off_t base = at.sourceStart + static_cast<off_t>(frame * frameSize);
        uint64_t done = 0;
        for (const FrameSpan& span : stampedSpans(frameGeometry)) {
            if (const int status = spliceBytes(run, at, pipe, base + static_cast<off_t>(done),
                                               static_cast<size_t>(span.offset - done)))
                return status;
            if (pipe.refused || pipe.ended)
                break;
            stampWindow(frameGeometry, run.wmData.data(), static_cast<int64_t>(span.offset),
                        static_cast<size_t>(span.length), frameBuf);
            if (!writeBlock(run.out.pFile, frameBuf, static_cast<size_t>(span.length)))
                return outputError(run, errno);
            done = span.offset + span.length;
        }
        if (!pipe.refused && !pipe.ended)
            if (const int status = spliceBytes(run, at, pipe, base + static_cast<off_t>(done),
                                               static_cast<size_t>(frameSize - done)))
                return status;
        if (pipe.refused || pipe.ended) {
            // The frame in hand is dropped: streaming reads it again, or
            // finds it incomplete.
            run.payloadAhead = true;
            break;
        }
        countFrame(run);
    }
    return handOver(run, at, static_cast<uint64_t>(run.frameCount) * frameSize, streamRest);
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
    CopyPlaces at = {fileno(run.in.pFile), fileno(run.out.pFile), 0, 0, 0};
    uint64_t sourceBytes = 0;
    // Only with a whole frame to write is an existing output emptied. An
    // output in append mode takes every write at its end: streamed.
    if (!isRegular(at.outFd) || appendsOnly(at.outFd) ||
        !bytesLeftInFile(run.in.pFile, sourceBytes) || sourceBytes < frameSize)
        return statusOk;
    at.sourceStart = ftello(run.in.pFile);
    at.outputStart = static_cast<off_t>(outputStart(run.out.pFile));
    at.wholeBytes = sourceBytes / frameSize * frameSize;
    if (at.sourceStart < 0)
        return statusOk;

    // The first frame's payload is read before anything is written, as
    // streaming would: data that cannot be read leaves an old output as it
    // was.
    streamRest = false;
    if (const int status = nextPayload(run))
        return status;
    run.payloadAhead = true;
    if (const int status = startOutput(run))
        return status;
    limitCopyOnWritePreallocation(at.outFd);
    const uint64_t chunkBytes = chunkFrames() * frameSize;
    for (uint64_t chunk = 0;; ++chunk) {
        const uint64_t chunkStart = chunk * chunkBytes;
        if (chunkStart >= at.wholeBytes)
            break;
        if (stopRequested(run))
            return statusOk;
        const uint64_t chunkEnd = std::min(chunkStart + chunkBytes, at.wholeBytes);
        // The last chunk's whole frames may end inside a block: that block is
        // written, so that the incomplete frame after them is never shared.
        const uint64_t sharedEnd = chunkEnd / blockSize * blockSize;
        if (!shareBlocks(at.inFd, at.sourceStart + static_cast<off_t>(chunkStart), at.outFd,
                         at.outputStart + static_cast<off_t>(chunkStart), sharedEnd - chunkStart)) {
            const int err = errno;
            if (!cloneUnsupported(err))
                return outputFault(err) ? outputError(run, err) : inputError(run, err);
            // Streaming takes over where the copy stands.
            return spliceFrames(run, at, chunkStart, streamRest);
        }
        if (sharedEnd < chunkEnd)
            if (const int status = copyBytes(run, at, sharedEnd, chunkEnd))
                return status;
        for (uint64_t frame = chunkStart / frameSize; frame < chunkEnd / frameSize; ++frame) {
            if (stopRequested(run))
                return statusOk;
            if (const int status = nextPayload(run))
                return status;
            takeStampTime(run);
            if (const int status = stampInPlace(run, at, frame, run.wmData.data()))
                return status;
            countFrame(run);
        }
    }
    // Streaming reads what follows, as it would have: an incomplete last
    // frame, or frames added to the source meanwhile.
    return handOver(run, at, at.wholeBytes, streamRest);
}

#else

int copyFrames(FrameRun&, bool& streamRest)
{
    streamRest = true;
    return statusOk;
}

#endif
