#include "SystemDecl.h"

namespace systemlib {

GetSystemTime &getSystemTime()
{
    static GetSystemTime f(libraryFileName, "GetSystemTime");
    return f;
}

} // namespace systemlib
