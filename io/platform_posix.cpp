#include "platform.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Takes a whole-file lock. False only when another holder's lock conflicts:
// where the file system cannot lock, the identity checks have to do.
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
    if (errno == EAGAIN || errno == EACCES)
        return false;
    // EINVAL: a kernel without them. Any other failure: no locking here.
    if (errno != EINVAL)
        return true;
#endif
    // Process locks, where open-file-description locks are missing.
    if (fcntl(fd, F_SETLK, &fl) == 0)
        return true;
    return errno != EAGAIN && errno != EACCES;
}

bool isSameFile(const struct stat& st, FILE* pOther)
{
    struct stat other;
    if (pOther == nullptr || fstat(fileno(pOther), &other) != 0)
        return false;
    return st.st_dev == other.st_dev && st.st_ino == other.st_ino;
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

} // namespace

void preparePlatform()
{
    // A reader that goes away must be a write error, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
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
    FILE* pFile = fdopen(fd, "rb");
    return pFile != nullptr ? pFile : refuse(fd);
}

FILE* openOutputFile(const char* name, FILE* pInFile, FILE* pWmFile)
{
    // No O_TRUNC: nothing may be emptied before every check has passed.
    struct stat st;
    const int fd = openNonDirectory(name, O_WRONLY | O_CREAT, st);
    if (fd < 0)
        return nullptr;
    // /dev/null may well be an input and the output at once.
    if (!S_ISCHR(st.st_mode) && (isSameFile(st, pInFile) || isSameFile(st, pWmFile))) {
        errno = EBUSY;
        return refuse(fd);
    }
    if (S_ISREG(st.st_mode)) {
        if (!lockWholeFile(fd, F_WRLCK))
            return refuse(fd);
        // Truncating an empty file on ext4 still arms a flush at close.
        if (st.st_size > 0 && ftruncate(fd, 0) != 0)
            return refuse(fd);
    }
    FILE* pFile = fdopen(fd, "wb");
    return pFile != nullptr ? pFile : refuse(fd);
}

bool isTerminal(FILE* pStream)
{
    return isatty(fileno(pStream)) != 0;
}

void useBinaryMode(FILE*)
{
    // POSIX streams make no difference between text and binary.
}
