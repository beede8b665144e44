// Functions of later systems than the oldest we run on, looked up by name at
// run time; null where the system lacks them.
#pragma once

#include <windows.h>

namespace korvane::win {

template <typename Fn>
Fn library_function(HMODULE module, const char* name) {
    if (!module) return nullptr;
    // Through void(*)(): the one function-pointer cast GCC does not flag.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// From a system library the process has already loaded.
template <typename Fn>
Fn system_function(const char* module, const char* name) {
    return library_function<Fn>(GetModuleHandleA(module), name);
}

}  // namespace korvane::win
