// Owners for the Win32 and COM handles the shell code holds, one per kind.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <type_traits>

namespace korvane::shell_detail {

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using ScopedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

struct LibraryFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ScopedLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

struct PidlFreer {
    void operator()(LPITEMIDLIST pidl) const { CoTaskMemFree(pidl); }
};
using ScopedPidl = std::unique_ptr<ITEMIDLIST, PidlFreer>;

struct ComReleaser {
    void operator()(IUnknown* p) const { p->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComReleaser>;

// A nested CoInitialize: S_FALSE (already initialised) still needs its
// CoUninitialize, a failure (another apartment model) must not get one.
class ComScope {
  public:
    ComScope() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (initialised_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

  private:
    bool initialised_;
};

}  // namespace korvane::shell_detail
