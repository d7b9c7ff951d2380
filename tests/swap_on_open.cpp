// Preloaded into a program by a test: just before the program opens the
// file named by WM_SWAP_ONTO for writing, renames WM_SWAP_FROM over it, as
// another process could at that very moment. Both names of the call are
// replaced, so the large-file redirection of open() is left out here.
#undef _FILE_OFFSET_BITS
#include <dlfcn.h>
#include <fcntl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using OpenCall = int (*)(const char*, int, ...);

int swapThenOpen(const char* symbol, const char* path, int flags, mode_t mode)
{
    const char* onto = std::getenv("WM_SWAP_ONTO");
    const char* from = std::getenv("WM_SWAP_FROM");
    if (onto != nullptr && from != nullptr && (flags & O_ACCMODE) != O_RDONLY &&
        std::strcmp(path, onto) == 0)
        (void)std::rename(from, onto);
    const auto real = reinterpret_cast<OpenCall>(dlsym(RTLD_NEXT, symbol));
    return real(path, flags, mode);
}

mode_t modeArgument(int flags, va_list args)
{
    return (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

} // namespace

extern "C" int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return swapThenOpen("open", path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeArgument(flags, args);
    va_end(args);
    return swapThenOpen("open64", path, flags, mode);
}
