#include "FendralDecl.h"

namespace fendral {

SetBit &setBit()
{
    static SetBit f(libraryFileName, "setBit");
    return f;
}

SetBitFloat &setBitFloat()
{
    static SetBitFloat f(libraryFileName, "setBitFloat");
    return f;
}

GetBit &getBit()
{
    static GetBit f(libraryFileName, "getBit");
    return f;
}

} // namespace fendral
