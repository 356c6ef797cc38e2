#pragma once

#include <oleacc.h>
#include <windows.h>

#include "Handles.h"

namespace kesmar::win32 {

// Names and descriptions for screen readers and UI automation, on top of
// what the controls report of themselves (a button's or check box's caption
// is its name already). Without the system's annotation service (an old or
// partial system) the controls keep their own and nothing fails.
class AccessibleNames
{
  public:
    AccessibleNames();

    // name may be null: the control's caption is its name.
    void annotate(HWND control, const wchar_t *name, const wchar_t *description);
    // Before the control goes; the service holds its annotations until then.
    void clear(HWND control);

  private:
    ComPtr<IAccPropServices> service_;
};

} // namespace kesmar::win32
