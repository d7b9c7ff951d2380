#include "platform.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

// The sharing rules are native here: the runtime's share modes make an
// input deny writers and the output deny everyone, and an open that breaks
// them fails before anything is truncated.

namespace {

bool fileIdentity(FILE* pFile, BY_HANDLE_FILE_INFORMATION& info)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pFile)));
    return handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_CHAR &&
           GetFileInformationByHandle(handle, &info) != 0;
}

} // namespace

void preparePlatform()
{
    // Standard output stays in text mode, as a console program's does.
}

FILE* openInputFile(const char* name)
{
    return _fsopen(name, "rb", _SH_DENYWR);
}

FILE* openOutputFile(const char* name, std::initializer_list<FILE*>)
{
    // Denying everyone also refuses a file that is open as an input or as
    // standard output.
    return _fsopen(name, "wb", _SH_DENYRW);
}

bool isSameFile(FILE* pOne, FILE* pOther)
{
    BY_HANDLE_FILE_INFORMATION one;
    BY_HANDLE_FILE_INFORMATION other;
    return pOther != nullptr && fileIdentity(pOne, one) && fileIdentity(pOther, other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
           one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
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

bool isTerminal(FILE* pStream)
{
    return _isatty(_fileno(pStream)) != 0;
}

void useForData(FILE* pStream)
{
    _setmode(_fileno(pStream), _O_BINARY);
}
