// On Linux, a regular file is copied to a regular file with
// copy_file_range, which on XFS (reflink) and btrfs shares the source's
// blocks instead of copying them, and only the blocks that hold each
// frame's stamped spans are written. Elsewhere, and wherever the file
// system refuses, frames are streamed.
#include "frame_run.h"

#if defined(__linux__)

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

// Calls after which streaming can carry on as if nothing had been tried.
bool copyUnsupported(int err)
{
    return err == EXDEV || err == EINVAL || err == EBADF || err == ENOSYS || err == EOPNOTSUPP ||
           err == EPERM || err == ETXTBSY;
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

// Stamps frame `frame` of the output in place: each stamped span, widened
// to whole blocks filled from the source, so that no block shared with the
// source is read back before it is written. Returns 0, or the status.
int stampInPlace(FrameRun& run, int inFd, int outFd, off_t sourceStart, uint64_t frame,
                 const uint8_t wmData[payloadSize])
{
    const uint64_t base = frame * frameSize;
    // frameBuf is scratch space here: a span widened to whole blocks is
    // never larger than a frame of the smallest size.
    for (const FrameSpan& span : stampedSpans(frameGeometry)) {
        const uint64_t first = (base + span.offset) / blockSize * blockSize;
        const uint64_t end =
            (base + (span.offset + span.length) + blockSize - 1) / blockSize * blockSize;
        const auto bytes = static_cast<size_t>(end - first);
        if (!readFully(inFd, frameBuf, bytes, sourceStart + static_cast<off_t>(first)))
            return inputError(run, errno);
        stampWindow(frameGeometry, wmData, static_cast<int64_t>(first) - static_cast<int64_t>(base),
                    bytes, frameBuf);
        if (!writeFully(outFd, frameBuf, bytes, static_cast<off_t>(first)))
            return outputError(run, errno);
    }
    return statusOk;
}

} // namespace

int copyFrames(FrameRun& run, bool& streamRest)
{
    streamRest = true;
    const int inFd = fileno(run.in.pFile);
    const int outFd = fileno(run.out.pFile);
    uint64_t sourceBytes = 0;
    // Only with a whole frame to write is an existing output emptied.
    if (!isRegular(outFd) || !bytesLeftInFile(run.in.pFile, sourceBytes) || sourceBytes < frameSize)
        return statusOk;
    const off_t sourceStart = ftello(run.in.pFile);
    if (sourceStart < 0)
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
    limitCopyOnWritePreallocation(outFd);
    const uint64_t chunkFrameCount = chunkFrames();
    for (uint64_t chunk = 0;; ++chunk) {
        const uint64_t chunkStart = chunk * chunkFrameCount * frameSize;
        uint64_t copied = 0;
        int failure = 0;
        const uint64_t wanted = chunkFrameCount * frameSize;
        while (copied < wanted) {
            if (stopRequested(run))
                return statusOk;
            off_t inAt = sourceStart + static_cast<off_t>(chunkStart + copied);
            off_t outAt = static_cast<off_t>(chunkStart + copied);
            const ssize_t n = copy_file_range(inFd, &inAt, outFd, &outAt,
                                              static_cast<size_t>(wanted - copied), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && copied == 0 && copyUnsupported(errno)) {
                streamRest = true;
                // Streaming takes over where the copy stands.
                if (fseeko(run.in.pFile, sourceStart + static_cast<off_t>(chunkStart), SEEK_SET) !=
                        0 ||
                    fseeko(run.out.pFile, static_cast<off_t>(chunkStart), SEEK_SET) != 0)
                    return inputError(run, errno);
                return statusOk;
            }
            if (n < 0) {
                failure = errno;
                break;
            }
            if (n == 0)
                break; // the end of the source, as reading would find it
            copied += static_cast<uint64_t>(n);
        }
        const uint64_t whole = copied / frameSize;
        for (uint64_t k = 0; k < whole; ++k) {
            if (stopRequested(run))
                return statusOk;
            if (const int status = nextPayload(run))
                return status;
            const uint64_t frame = chunk * chunkFrameCount + k;
            if (const int status =
                    stampInPlace(run, inFd, outFd, sourceStart, frame, run.wmData.data()))
                return status;
            countFrame(run);
        }
        // The frames that came whole before a failure are stamped, as
        // streaming would have written them.
        if (failure != 0)
            return outputFault(failure) ? outputError(run, failure) : inputError(run, failure);
        if (copied < wanted) {
            // What follows the last whole frame is an incomplete frame.
            if (copied % frameSize > 0)
                reportIgnoredBytes("wmstamp", copied % frameSize);
            if (!cutFileTo(run.out.pFile, static_cast<uint64_t>(run.frameCount) * frameSize))
                return outputError(run, errno);
            return statusOk;
        }
    }
}

#else

int copyFrames(FrameRun&, bool& streamRest)
{
    streamRest = true;
    return statusOk;
}

#endif
