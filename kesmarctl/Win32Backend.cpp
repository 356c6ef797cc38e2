// Windows: kesmar's window through plain window messages, each control
// found by its control ID.

#include "Backend.h"

namespace kesmarctl {

std::unique_ptr<Desktop> openDesktop()
{
    throw Failure("not written yet");
}

} // namespace kesmarctl
