#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Which standard streams preparePlatform found closed.
bool closedAtStart[3] = {};

// Takes a whole-file lock. False, with errno EAGAIN, only when another
// holder's lock conflicts: where the file system cannot lock, the identity
// checks have to do.
bool lockWholeFile(int fd, short type)
{
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
    // Open-file-description locks also conflict within one process, so an
    // input and the output of the same run exclude each other.
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0)
        return true;
    if (errno == EAGAIN || errno == EACCES) {
        errno = EAGAIN;
        return false;
    }
    // EINVAL: a kernel without them. Any other failure: no locking here.
    if (errno != EINVAL)
        return true;
#endif
    // Process locks, where open-file-description locks are missing.
    if (fcntl(fd, F_SETLK, &fl) == 0)
        return true;
    if (errno != EAGAIN && errno != EACCES)
        return true;
    errno = EAGAIN;
    return false;
}

bool isSameFile(const struct stat& st, FILE* pOther)
{
    struct stat other;
    if (pOther == nullptr || fstat(fileno(pOther), &other) != 0)
        return false;
    return !S_ISCHR(st.st_mode) && st.st_dev == other.st_dev && st.st_ino == other.st_ino;
}

FILE* refuse(int fd)
{
    const int err = errno;
    close(fd);
    errno = err;
    return nullptr;
}

// Opens a file that is not a directory (Linux lets a reader open one).
// Returns -1 on failure, with errno set.
int openNonDirectory(const char* name, int flags, struct stat& st)
{
    const int fd = open(name, flags | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    const bool known = fstat(fd, &st) == 0;
    if (known && !S_ISDIR(st.st_mode))
        return fd;
    if (known)
        errno = EISDIR;
    refuse(fd);
    return -1;
}

// The largest pipe buffer an unprivileged process may ask for.
long pipeMaxSize()
{
    const int fd = open("/proc/sys/fs/pipe-max-size", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[32] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    return n > 0 ? std::strtol(text, nullptr, 10) : 0;
}

// A 3 MB frame crosses the default 64 KiB pipe in 48 pieces; a larger
// buffer lets each side move far more at a time. A refusal changes nothing.
void enlargePipe(int fd)
{
#ifdef F_SETPIPE_SZ
    constexpr long wanted = 1L << 20;
    const long current = fcntl(fd, F_GETPIPE_SZ);
    if (current < 0 || current >= wanted)
        return;
    long size = wanted;
    const long most = pipeMaxSize();
    if (most > 0 && most < size)
        size = most;
    if (size > current)
        (void)fcntl(fd, F_SETPIPE_SZ, static_cast<int>(size));
#else
    (void)fd;
#endif
}

} // namespace

void preparePlatform(int&, char**&)
{
    // A reader that goes away, or a file-size limit, must be a write error
    // with a message, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    // Started with a standard stream closed, the first file opened would
    // take its number and receive text meant for the console.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        closedAtStart[fd] = true;
        if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
            std::_Exit(125);
    }
}

bool wasClosedAtStart(FILE* pStream)
{
    const int fd = fileno(pStream);
    return fd >= 0 && fd <= 2 && closedAtStart[fd];
}

FILE* openInputFile(const char* name)
{
    struct stat st;
    const int fd = openNonDirectory(name, O_RDONLY, st);
    if (fd < 0)
        return nullptr;
    // Locks only on regular files: two chained instances share a pipe.
    if (S_ISREG(st.st_mode) && !lockWholeFile(fd, F_RDLCK))
        return refuse(fd);
    if (S_ISFIFO(st.st_mode))
        enlargePipe(fd);
    FILE* pFile = fdopen(fd, "rb");
    return pFile != nullptr ? pFile : refuse(fd);
}

FILE* openOutputFile(const char* name, std::initializer_list<FILE*> others)
{
    // No O_TRUNC: the caller empties the file once it has something to
    // write in its place.
    struct stat st;
    const int fd = openNonDirectory(name, O_WRONLY | O_CREAT, st);
    if (fd < 0)
        return nullptr;
    for (FILE* pOther : others) {
        if (isSameFile(st, pOther)) {
            errno = EBUSY;
            return refuse(fd);
        }
    }
    // A named pipe is locked too: two writers would interleave their frames.
    // (Readers of a pipe take no lock, so a chained reader never conflicts.)
    if ((S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) && !lockWholeFile(fd, F_WRLCK))
        return refuse(fd);
    FILE* pFile = fdopen(fd, "wb");
    if (pFile == nullptr)
        return refuse(fd);
    if (S_ISFIFO(st.st_mode))
        enlargePipe(fd);
    return pFile;
}

bool isSameFile(FILE* pOne, FILE* pOther)
{
    struct stat st;
    return fstat(fileno(pOne), &st) == 0 && isSameFile(st, pOther);
}

bool namesOpenFile(const char* name, FILE* pFile)
{
    struct stat st;
    return stat(name, &st) == 0 && isSameFile(st, pFile);
}

bool hasContent(FILE* pFile)
{
    struct stat st;
    return fstat(fileno(pFile), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

uint64_t outputStart(FILE* pFile)
{
    if (pFile != stdout)
        return 0;
    static int64_t start = -1;
    if (start < 0) {
        struct stat st;
        const int flags = fcntl(STDOUT_FILENO, F_GETFL);
        const off_t at = ftello(stdout);
        if (flags >= 0 && (flags & O_APPEND) != 0 && fstat(STDOUT_FILENO, &st) == 0)
            start = st.st_size;
        else
            start = at < 0 ? 0 : at; // a pipe or a terminal has no offset
    }
    return static_cast<uint64_t>(start);
}

bool cutFileTo(FILE* pFile, uint64_t bytes)
{
    struct stat st;
    const int fd = fileno(pFile);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    const auto end = static_cast<off_t>(outputStart(pFile) + bytes);
    // Cutting an empty file on ext4 still arms a flush at close.
    if (st.st_size != end && ftruncate(fd, end) != 0)
        return false;
    // What follows (a later command writing the same standard output)
    // comes right after the frames kept, with no gap.
    return fseeko(pFile, end, SEEK_SET) == 0;
}

bool syncToDisk(FILE* pFile)
{
    struct stat st;
    const int fd = fileno(pFile);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    return fdatasync(fd) == 0;
}

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void noteStop(int sig)
{
    stopSignal = sig;
    // A stop that comes just before a read starts to wait cannot break that
    // wait; this alarm, a moment later, does.
    alarm(1);
}

void breakWait(int) {}

} // namespace

void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked read must come back
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    action.sa_handler = breakWait;
    sigaction(SIGALRM, &action, nullptr);
}

int stopSignalSeen()
{
    return stopSignal;
}

void endBySignal(int sig)
{
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(128 + sig);
}

bool skipForward(FILE* pFile, uint64_t bytes)
{
    // off_t is 64 bits wide in every build (_FILE_OFFSET_BITS=64).
    static_assert(sizeof(off_t) == 8, "large-file offsets");
    return fseeko(pFile, static_cast<off_t>(bytes), SEEK_CUR) == 0;
}

bool bytesLeftInFile(FILE* pFile, uint64_t& bytes)
{
    struct stat st;
    if (fstat(fileno(pFile), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const off_t at = ftello(pFile);
    if (at < 0 || at > st.st_size)
        return false;
    bytes = static_cast<uint64_t>(st.st_size - at);
    return true;
}

bool positionInFile(FILE* pFile, uint64_t& at)
{
    struct stat st;
    if (fstat(fileno(pFile), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    const off_t here = ftello(pFile);
    if (here < 0)
        return false;
    at = static_cast<uint64_t>(here);
    return true;
}

bool moveToPosition(FILE* pFile, uint64_t at)
{
    return fseeko(pFile, static_cast<off_t>(at), SEEK_SET) == 0;
}

bool isTerminal(FILE* pStream)
{
    return isatty(fileno(pStream)) != 0;
}

void useForData(FILE* pStream)
{
    // POSIX streams make no difference between text and binary, but a
    // parent may hand over a non-blocking pipe, whose first empty read
    // would look like an error.
    const int fd = fileno(pStream);
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) != 0)
        (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
        enlargePipe(fd);
}

bool readEndedByDisconnect()
{
    // A FIFO whose writer went away reads as its end already.
    return false;
}

const char* describeError(int err)
{
    return std::strerror(err);
}
