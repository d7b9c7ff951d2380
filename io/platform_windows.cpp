#include "platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

// The sharing rules are native here: the runtime's share modes make an
// input deny writers and the output deny everyone, and an open that breaks
// them fails before anything is truncated.
//
// Names travel through the programs as UTF-8 and are opened as UTF-16, so
// that every name Windows accepts opens exactly that file: the ANSI code
// page cannot spell most names and substitutes lookalikes for the rest.

namespace {

// The longest path Windows takes, with room for a \\?\UNC\ prefix.
constexpr int maxWideName = 32768 + 8;

} // namespace

// The name as UTF-16, in its absolute \\?\ form when it is too long for
// the plain calls. nullptr when it is not valid UTF-8 or too long: then no
// file can be meant, and the open fails.
const wchar_t* wideName(const char* name)
{
    // One file is opened at a time, so one buffer serves, with nothing to
    // allocate.
    static wchar_t wide[maxWideName];
    static wchar_t full[maxWideName];
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide, maxWideName);
    if (n == 0)
        return nullptr;
    // Pipes (\\.\pipe\...) and names in the long form already go as they are.
    if (std::wcsncmp(wide, L"\\\\?\\", 4) == 0 || std::wcsncmp(wide, L"\\\\.\\", 4) == 0)
        return wide;
    // Whether a name needs the long form depends on its absolute path, which
    // a short relative name in a deep folder can make too long. That path
    // goes after room for the longest prefix, \\?\UNC\, which is then
    // written in front of it. Devices (NUL) and short paths go as typed.
    wchar_t* path = full + 8;
    const DWORD length = GetFullPathNameW(wide, maxWideName - 8, path, nullptr);
    if (length == 0 || length >= maxWideName - 8 || length < MAX_PATH - 12 ||
        std::wcsncmp(path, L"\\\\.\\", 4) == 0)
        return wide;
    if (path[0] == L'\\' && path[1] == L'\\') {
        // \\server\share\... becomes \\?\UNC\server\share\...
        std::wmemcpy(full + 2, L"\\\\?\\UNC\\", 8);
        return full + 2;
    }
    std::wmemcpy(path - 4, L"\\\\?\\", 4);
    return path - 4;
}

namespace {

FILE* openShared(const char* name, const wchar_t* mode, int share)
{
    const wchar_t* wide = wideName(name);
    if (wide == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    FILE* pFile = _wfsopen(wide, mode, share);
    // Another holder's share mode: say so rather than "Permission denied".
    if (pFile == nullptr && _doserrno == ERROR_SHARING_VIOLATION)
        errno = EAGAIN;
    return pFile;
}

bool fileIdentity(FILE* pFile, BY_HANDLE_FILE_INFORMATION& info)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pFile)));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_CHAR &&
           GetFileInformationByHandle(handle, &info) != 0;
}

UINT consoleCodePage = 0;

void restoreConsole()
{
    SetConsoleOutputCP(consoleCodePage);
}

// A name in a message shows as the user typed it: the bytes are UTF-8, so
// the console reads them as UTF-8 for the run.
void showUtf8OnConsole()
{
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) &&
        !GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode))
        return;
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restoreConsole);
}

// One argument as UTF-8. A name that UTF-8 cannot carry (a lone surrogate)
// is marked with a byte no UTF-8 has, so that its open fails rather than
// finding a file of a similar name.
char* utf8Argument(const wchar_t* arg)
{
    int bytes =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, arg, -1, nullptr, 0, nullptr, nullptr);
    const bool valid = bytes > 0;
    if (!valid)
        bytes = WideCharToMultiByte(CP_UTF8, 0, arg, -1, nullptr, 0, nullptr, nullptr);
    auto* text = static_cast<char*>(std::malloc(static_cast<size_t>(bytes) + 1));
    if (text == nullptr)
        return nullptr;
    char* at = text;
    if (!valid)
        *at++ = '\xFF';
    WideCharToMultiByte(CP_UTF8, 0, arg, -1, at, bytes, nullptr, nullptr);
    return text;
}

bool closedAtStart[3] = {};

} // namespace

void preparePlatform(int& argc, char**& argv)
{
    // Standard output stays in text mode, as a console program's does.
    showUtf8OnConsole();
    const DWORD standard[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        const HANDLE handle = GetStdHandle(standard[i]);
        closedAtStart[i] = handle == nullptr || handle == INVALID_HANDLE_VALUE;
    }
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    auto** utf8 = static_cast<char**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
    if (wide == nullptr || utf8 == nullptr)
        std::_Exit(6);
    for (int i = 0; i < count; ++i)
        if ((utf8[i] = utf8Argument(wide[i])) == nullptr)
            std::_Exit(6);
    LocalFree(wide);
    // Held for the whole run, like the runtime's own argv.
    argc = count;
    argv = utf8;
}

bool wasClosedAtStart(FILE* pStream)
{
    const int fd = _fileno(pStream);
    return fd < 0 || (fd <= 2 && closedAtStart[fd]);
}

FILE* openInputFile(const char* name)
{
    return openShared(name, L"rb", _SH_DENYWR);
}

FILE* openOutputFile(const char* name, std::initializer_list<FILE*>)
{
    // Denying everyone also refuses a file that is open as an input or as
    // standard output. Opened without truncation, which the caller does.
    const wchar_t* wide = wideName(name);
    if (wide == nullptr) {
        errno = ENOENT;
        return nullptr;
    }
    int fd = -1;
    const errno_t err =
        _wsopen_s(&fd, wide, _O_WRONLY | _O_CREAT | _O_BINARY, _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (err != 0) {
        errno = _doserrno == ERROR_SHARING_VIOLATION ? EAGAIN : err;
        return nullptr;
    }
    FILE* pFile = _fdopen(fd, "wb");
    if (pFile == nullptr) {
        const int saved = errno;
        _close(fd);
        errno = saved;
    }
    return pFile;
}

bool isSameFile(FILE* pOne, FILE* pOther)
{
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION other;
    return pOther != nullptr && fileIdentity(pOne, one) && fileIdentity(pOther, other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

bool namesOpenFile(const char* name, FILE* pFile)
{
    BY_HANDLE_FILE_INFORMATION open;
    const wchar_t* wide = wideName(name);
    if (wide == nullptr || pFile == nullptr || !fileIdentity(pFile, open))
        return false;
    // Asking for attributes alone passes every share mode.
    const HANDLE handle = CreateFileW(wide, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION named;
    const bool same = GetFileInformationByHandle(handle, &named) != 0 &&
                      named.dwVolumeSerialNumber == open.dwVolumeSerialNumber &&
                      named.nFileIndexHigh == open.nFileIndexHigh &&
                      named.nFileIndexLow == open.nFileIndexLow;
    CloseHandle(handle);
    return same;
}

bool hasContent(FILE* pFile)
{
    struct _stat64 st;
    return _fstat64(_fileno(pFile), &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG &&
           st.st_size > 0;
}

uint64_t outputStart(FILE* pFile)
{
    if (pFile != stdout)
        return 0;
    // The shell's ">>" leaves the handle at the file's end.
    static __int64 start = -1;
    if (start < 0) {
        const __int64 at = _ftelli64(stdout);
        start = at < 0 ? 0 : at;
    }
    return static_cast<uint64_t>(start);
}

bool cutFileTo(FILE* pFile, uint64_t bytes)
{
    struct _stat64 st;
    const int fd = _fileno(pFile);
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return true;
    const auto end = static_cast<__int64>(outputStart(pFile) + bytes);
    if (st.st_size != end) {
        const errno_t err = _chsize_s(fd, end);
        if (err != 0) {
            errno = err;
            return false;
        }
    }
    return _fseeki64(pFile, end, SEEK_SET) == 0;
}

bool syncToDisk(FILE* pFile)
{
    struct _stat64 st;
    const int fd = _fileno(pFile);
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return true;
    return _commit(fd) == 0;
}

namespace {

// Console events arrive on a thread of their own, so the stop is shared
// between threads; the main thread takes it at a frame boundary.
std::atomic<int> stopSignal{0};
std::atomic<bool> stopTaken{false};
HANDLE mainThread = nullptr;

void noteStop(int sig)
{
    stopSignal = sig;
    // The runtime resets a handler once it has run.
    std::signal(sig, noteStop);
}

// Ctrl-C, Ctrl-Break and closing the console. A read the main thread is
// blocked in (a silent pipe) would never return by itself: it is
// cancelled, and again for a moment, in case the main thread was about to
// start one, until the main thread has taken the stop.
BOOL WINAPI noteConsoleStop(DWORD event)
{
    const int sig = event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? SIGBREAK : SIGTERM;
    stopSignal = sig;
    for (int tries = 0; tries < 100 && !stopTaken; ++tries) {
        CancelSynchronousIo(mainThread);
        Sleep(20);
    }
    // Once this returns, a closing console ends the process: the main thread
    // gets the time Windows allows to leave whole frames and say so.
    if (sig == SIGTERM)
        Sleep(4000);
    return TRUE;
}

} // namespace

void catchStopSignals()
{
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &mainThread, 0,
                    FALSE, DUPLICATE_SAME_ACCESS);
    SetConsoleCtrlHandler(noteConsoleStop, TRUE);
    // A stop raised within the process.
    for (int sig : {SIGINT, SIGTERM, SIGBREAK})
        std::signal(sig, noteStop);
}

int stopSignalSeen()
{
    const int sig = stopSignal;
    if (sig != 0)
        stopTaken = true;
    return sig;
}

void endBySignal(int sig)
{
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    std::_Exit(3);
}

bool skipForward(FILE* pFile, uint64_t bytes)
{
    // fseek's long is 32 bits here, and the runtime makes a relative seek
    // an absolute one: past 2 GiB it would land in the wrong place.
    return _fseeki64(pFile, static_cast<__int64>(bytes), SEEK_CUR) == 0;
}

bool bytesLeftInFile(FILE* pFile, uint64_t& bytes)
{
    struct _stat64 st;
    if (_fstat64(_fileno(pFile), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return false;
    const __int64 at = _ftelli64(pFile);
    if (at < 0 || at > st.st_size)
        return false;
    bytes = static_cast<uint64_t>(st.st_size - at);
    return true;
}

bool positionInFile(FILE* pFile, uint64_t& at)
{
    struct _stat64 st;
    if (_fstat64(_fileno(pFile), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return false;
    const __int64 here = _ftelli64(pFile);
    if (here < 0)
        return false;
    at = static_cast<uint64_t>(here);
    return true;
}

bool moveToPosition(FILE* pFile, uint64_t at)
{
    return _fseeki64(pFile, static_cast<__int64>(at), SEEK_SET) == 0;
}

bool isTerminal(FILE* pStream)
{
    return _isatty(_fileno(pStream)) != 0;
}

void useForData(FILE* pStream)
{
    _setmode(_fileno(pStream), _O_BINARY);
}

bool readEndedByDisconnect()
{
    // The runtime takes only a broken pipe for the end of a file; a server
    // that disconnects the documented way ends the input just the same.
    return _doserrno == ERROR_PIPE_NOT_CONNECTED || _doserrno == ERROR_BROKEN_PIPE;
}

const char* describeError(int err)
{
    const bool closedPipe = _doserrno == ERROR_NO_DATA || _doserrno == ERROR_PIPE_NOT_CONNECTED ||
                            _doserrno == ERROR_BROKEN_PIPE;
    if ((err == EINVAL || err == EPIPE) && closedPipe)
        return "The pipe has been closed";
    return std::strerror(err);
}
