// On Linux, where the output's file system can share the source's blocks
// (XFS with reflink, btrfs, and any other that clones ranges), the source is
// cloned into the output and only the blocks that hold each frame's stamped
// spans are written. Where it cannot (ext4, tmpfs, across file systems, an
// output in append mode), an in-kernel copy would move every byte through
// the page cache and then write the stamped spans a second time: streaming
// frames costs less, so the first clone's refusal hands over to it.
#include "frame_run.h"

#if defined(__linux__)

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

namespace {

constexpr uint64_t blockSize = 4096;
// Eight frames are exactly 6,075 blocks: every chunk starts on a block
// boundary, where a copy can share blocks rather than copy them.
constexpr uint64_t chunkFrames = 8;
static_assert(chunkFrames * lumaPlaneSize * 3 / 2 % blockSize == 0, "chunks on block boundaries");

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
    for (const FrameSpan& span : stampedSpans) {
        const uint64_t first = (base + static_cast<uint64_t>(span.offset)) / blockSize * blockSize;
        const uint64_t end =
            std::min((base + static_cast<uint64_t>(span.offset + span.length) + blockSize - 1) /
                         blockSize * blockSize,
                     at.wholeBytes);
        const auto bytes = static_cast<size_t>(end - first);
        // frameBuf is scratch space here: no span's blocks come near 3 MB.
        if (!readFully(at.inFd, frameBuf, bytes, at.sourceStart + static_cast<off_t>(first)))
            return inputError(run, errno);
        stampWindow(wmData, static_cast<int64_t>(first) - static_cast<int64_t>(base), bytes,
                    frameBuf);
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
    for (uint64_t chunk = 0;; ++chunk) {
        const uint64_t chunkStart = chunk * chunkFrames * frameSize;
        if (chunkStart >= at.wholeBytes)
            break;
        if (stopRequested(run))
            return statusOk;
        const uint64_t chunkEnd = std::min(chunkStart + chunkFrames * frameSize, at.wholeBytes);
        // The last chunk's whole frames may end inside a block: that block is
        // written, so that the incomplete frame after them is never shared.
        const uint64_t sharedEnd = chunkEnd / blockSize * blockSize;
        if (!shareBlocks(at.inFd, at.sourceStart + static_cast<off_t>(chunkStart), at.outFd,
                         at.outputStart + static_cast<off_t>(chunkStart), sharedEnd - chunkStart)) {
            const int err = errno;
            if (!cloneUnsupported(err))
                return outputFault(err) ? outputError(run, err) : inputError(run, err);
            // Streaming takes over where the copy stands.
            return handOver(run, at, chunkStart, streamRest);
        }
        if (sharedEnd < chunkEnd)
            if (const int status = copyBytes(run, at, sharedEnd, chunkEnd))
                return status;
        for (uint64_t frame = chunkStart / frameSize; frame < chunkEnd / frameSize; ++frame) {
            if (stopRequested(run))
                return statusOk;
            if (const int status = nextPayload(run))
                return status;
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
