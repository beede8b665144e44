// kvnmenu.dll's entry points. Registration is korvane.exe's work, so there is
// no DllRegisterServer here.
#include <windows.h>

#include "menu/context_menu.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        korvane::menu::set_module(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return korvane::menu::get_class_object(clsid, iid, out);
}

HRESULT WINAPI DllCanUnloadNow() { return korvane::menu::can_unload() ? S_OK : S_FALSE; }

void __cdecl KvnMenuSetHooks(const KvnMenuHooks* hooks) { korvane::menu::set_hooks(hooks); }

}  // extern "C"
