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

// Set by DllMain: the folder of this module is where korvane.exe lives.
void set_module(HMODULE module);

// Live handlers and factories, and LockServer(TRUE) calls not yet undone.
bool can_unload();

HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out);

void set_hooks(const KvnMenuHooks* hooks);

}  // namespace korvane::menu
