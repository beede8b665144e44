// RAII owners for the Win32 and COM handles the program holds, one small
// type per handle kind.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

namespace korvane::win {

// A handle whose "none" is null or INVALID_HANDLE_VALUE, whichever the call
// that made it reports (_beginthreadex and CreateThread give null, CreateFile
// and FindFirstFile the other); Close::close gives it back.
template <class Close>
class BasicScopedHandle {
  public:
    BasicScopedHandle() = default;
    explicit BasicScopedHandle(HANDLE handle) : handle_(handle) {}
    ~BasicScopedHandle() { reset(); }
    BasicScopedHandle(BasicScopedHandle&& other) noexcept : handle_(other.release()) {}
    BasicScopedHandle& operator=(BasicScopedHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    BasicScopedHandle(const BasicScopedHandle&) = delete;
    BasicScopedHandle& operator=(const BasicScopedHandle&) = delete;

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    void reset(HANDLE handle = nullptr) {
        if (*this) Close::close(handle_);
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
};

struct HandleCloser {
    static void close(HANDLE handle) { CloseHandle(handle); }
};
struct FindCloser {
    static void close(HANDLE handle) { FindClose(handle); }
};
// A kernel object (thread, process, event, file).
using ScopedHandle = BasicScopedHandle<HandleCloser>;
// A FindFirstFile search.
using ScopedFindHandle = BasicScopedHandle<FindCloser>;

// Initialised on construction, deleted on destruction; never copied or moved,
// since the platform keeps pointers into it while it is held.
class CriticalSection {
  public:
    CriticalSection() { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

class CriticalSectionLock {
  public:
    explicit CriticalSectionLock(CriticalSection& section) : section_(section) { section_.enter(); }
    ~CriticalSectionLock() { section_.leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

  private:
    CriticalSection& section_;
};

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using ScopedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct LibraryFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using ScopedLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryFreer>;

// Memory the platform allocated for us with LocalAlloc (FormatMessage's
// FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
template <typename T>
using ScopedLocal = std::unique_ptr<T, LocalFreer>;

// The system's words for an error code, without the line end it puts after
// them; empty when it has none.
inline std::wstring system_message(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const ScopedLocal<wchar_t> owned(buffer);
    std::wstring text;
    if (n && buffer) text.assign(buffer, n);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

// A window's device context from GetDC, given back to that window.
class ScopedGetDC {
  public:
    explicit ScopedGetDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~ScopedGetDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    ScopedGetDC(const ScopedGetDC&) = delete;
    ScopedGetDC& operator=(const ScopedGetDC&) = delete;

    HDC get() const { return dc_; }

  private:
    HWND window_;
    HDC dc_;
};

// A storage medium filled by IDataObject::GetData; ReleaseStgMedium also
// leaves an empty medium alone.
struct ScopedMedium {
    STGMEDIUM medium = {};
    ScopedMedium() = default;
    ~ScopedMedium() { ReleaseStgMedium(&medium); }
    ScopedMedium(const ScopedMedium&) = delete;
    ScopedMedium& operator=(const ScopedMedium&) = delete;
};

// A drop handed to the window in WM_DROPFILES: the receiver must finish it.
struct DropFinisher {
    void operator()(HDROP drop) const { DragFinish(drop); }
};
using ScopedDrop = std::unique_ptr<std::remove_pointer_t<HDROP>, DropFinisher>;

// Item lists from the shell (SHBrowseForFolder, SHGetSpecialFolderLocation)
// belong to the task allocator.
struct PidlFreer {
    void operator()(LPITEMIDLIST pidl) const { CoTaskMemFree(pidl); }
};
using ScopedPidl = std::unique_ptr<ITEMIDLIST, PidlFreer>;

// So do the strings the shell hands out (SHGetKnownFolderPath).
struct TaskMemFreer {
    void operator()(void* memory) const { CoTaskMemFree(memory); }
};
template <typename T>
using ScopedTaskMem = std::unique_ptr<T, TaskMemFreer>;

// A COM interface pointer that holds one reference. put() hands its slot to
// a call that returns a new reference (CoCreateInstance, QueryInterface),
// releasing whatever it held first.
template <typename T>
class ComPtr {
  public:
    ComPtr() = default;
    explicit ComPtr(T* pointer) : pointer_(pointer) {}
    ~ComPtr() { reset(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    void reset() {
        if (pointer_) std::exchange(pointer_, nullptr)->Release();
    }
    T** put() {
        reset();
        return &pointer_;
    }
    // For the calls that take the slot as void** beside an interface id.
    void** put_void() { return reinterpret_cast<void**>(put()); }

  private:
    T* pointer_ = nullptr;
};

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

}  // namespace korvane::win
