#include <initguid.h>

#include "Accessibility.h"

#include <array>

namespace kesmar::win32 {

AccessibleNames::AccessibleNames()
{
    IAccPropServices *service = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IAccPropServices, reinterpret_cast<void **>(&service))))
        service_.reset(service);
}

void AccessibleNames::annotate(HWND control, const wchar_t *name, const wchar_t *description)
{
    if (!service_)
        return;
    if (name)
        service_.get()->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                       PROPID_ACC_NAME, name);
    service_.get()->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                   PROPID_ACC_DESCRIPTION, description);
}

void AccessibleNames::clear(HWND control)
{
    if (!service_)
        return;
    std::array<MSAAPROPID, 2> props{PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
    service_.get()->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                   props.data(), static_cast<int>(props.size()));
}

} // namespace kesmar::win32
