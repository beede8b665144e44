// The context-menu handler and its class factory, and the module-wide counts
// that decide when the DLL may be unloaded.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include "menu/menu_hooks.h"

namespace korvane::menu {

// {4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}, the identifier install registers.
inline constexpr CLSID handler_clsid = {
    0x4B7D2A10, 0x93E5, 0x4c1f, {0xA6, 0xB8, 0x0F, 0x3C, 0x5E, 0x71, 0xD2, 0x94}};

inline constexpr const wchar_t* item_text = L"Encrypt with Korvane File";
inline constexpr const char* verb_a = "encrypt";
inline constexpr const wchar_t* verb_w = L"encrypt";
inline constexpr const char* help_a = "Encrypts the selected files and folders with Korvane File";
inline constexpr const wchar_t* help_w =
    L"Encrypts the selected files and folders with Korvane File";

// Where a handler reaches outside itself: korvane.exe is looked for in the
// folder of module, and hooks start it and show messages. The library passes
// its own module and the platform hooks; the tests, which link these objects
// directly, pass recorders, so the shipped libraries export no seam.
struct HandlerSite {
    HMODULE module = nullptr;
    KvnMenuHooks hooks = {};
};

// Live handlers and factories, and LockServer(TRUE) calls not yet undone.
bool can_unload();

// The class factory for handler_clsid; every object it makes uses site.
HRESULT get_class_object(const HandlerSite& site, REFCLSID clsid, REFIID iid, void** out);

}  // namespace korvane::menu
