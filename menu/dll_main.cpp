// The handler library's entry points, the same for the 32-bit kvnmenu.dll and
// the 64-bit kvnmenu64.dll. Registration is korvane.exe's work, so there is
// no DllRegisterServer here.
#include <windows.h>

#include "menu/context_menu.h"
#include "menu/launch.h"

namespace {

HMODULE this_module = nullptr;

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        this_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    const korvane::menu::HandlerSite site = {this_module, korvane::menu::platform_hooks()};
    return korvane::menu::get_class_object(site, clsid, iid, out);
}

HRESULT WINAPI DllCanUnloadNow() {
    return korvane::menu::can_unload() ? S_OK : S_FALSE;
}

}  // extern "C"
