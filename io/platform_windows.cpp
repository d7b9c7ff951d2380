#include "platform.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>

// The sharing rules are native here: the runtime's share modes make an
// input deny writers and the output deny everyone, and an open that breaks
// them fails before anything is truncated.

void preparePlatform()
{
    // Standard output stays in text mode, as a console program's does.
}

FILE* openInputFile(const char* name)
{
    return _fsopen(name, "rb", _SH_DENYWR);
}

FILE* openOutputFile(const char* name, FILE*, FILE*)
{
    return _fsopen(name, "wb", _SH_DENYRW);
}

bool isTerminal(FILE* pStream)
{
    return _isatty(_fileno(pStream)) != 0;
}

void useBinaryMode(FILE* pStream)
{
    _setmode(_fileno(pStream), _O_BINARY);
}
