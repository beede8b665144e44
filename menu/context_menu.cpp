#include "menu/context_menu.h"

#include <shellapi.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "menu/launch.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

namespace korvane::menu {

namespace {

std::atomic<long> live_objects{0};
std::atomic<long> server_locks{0};

// Counts itself among the live objects for as long as it exists.
class Counted {
  protected:
    Counted() { ++live_objects; }
    ~Counted() { --live_objects; }
};

bool has_cry_extension(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    const std::size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return false;
    return _wcsicmp(path.c_str() + dot, L".cry") == 0;
}

bool is_folder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(win::system_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

template <typename Char>
HRESULT copy_out(const Char* text, Char* out, UINT capacity) {
    if (!out || capacity == 0) return E_INVALIDARG;
    std::size_t length = 0;
    while (text[length]) ++length;
    if (length >= capacity) {
        out[0] = 0;
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(out, text, (length + 1) * sizeof(Char));
    return S_OK;
}

class Handler final : public IShellExtInit, public IContextMenu, private Counted {
  public:
    explicit Handler(const HandlerSite& site) : site_(site) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellExtInit))
            *out = static_cast<IShellExtInit*>(this);
        else if (IsEqualIID(iid, IID_IContextMenu))
            *out = static_cast<IContextMenu*>(this);
        else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const long left = --references_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IShellExtInit: the shell may initialise one object more than once.
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE, IDataObject* data, HKEY) override {
        paths_.clear();
        if (!data) return E_INVALIDARG;
        FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        win::ScopedMedium held;
        const HRESULT got = data->GetData(&format, &held.medium);
        if (FAILED(got)) return got;
        if (held.medium.tymed != TYMED_HGLOBAL || !held.medium.hGlobal) return E_INVALIDARG;
        const auto drop = static_cast<HDROP>(held.medium.hGlobal);
        try {
            const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            std::vector<std::wstring> paths;
            paths.reserve(count);
            for (UINT i = 0; i < count; ++i) {
                const UINT length = DragQueryFileW(drop, i, nullptr, 0);
                if (length == 0) return E_INVALIDARG;
                std::wstring path(length + 1, L'\0');
                if (DragQueryFileW(drop, i, path.data(), length + 1) != length)
                    return E_INVALIDARG;
                path.resize(length);
                paths.push_back(std::move(path));
            }
            if (paths.empty()) return E_INVALIDARG;
            paths_ = std::move(paths);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last,
                                  UINT flags) override {
        const HRESULT none = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 0);
        if ((flags & CMF_DEFAULTONLY) || paths_.empty() || first > last) return none;
        // A lone archive is for opening, which decrypts it.
        if (paths_.size() == 1 && has_cry_extension(paths_[0]) && !is_folder(paths_[0]))
            return none;
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING | MIIM_ID;
        item.wID = first;
        item.dwTypeData = const_cast<wchar_t*>(item_text);
        if (!InsertMenuItemW(menu, index, TRUE, &item)) return HRESULT_FROM_WIN32(GetLastError());
        return MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 1);
    }

    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override {
        if (!info || info->cbSize < sizeof(CMINVOKECOMMANDINFO)) return E_INVALIDARG;
        if (!is_our_command(*info)) return E_FAIL;
        if (paths_.empty()) return E_UNEXPECTED;
        try {
            return encrypt_selection(site_.module, info->hwnd,
                                     !(info->fMask & CMIC_MASK_FLAG_NO_UI), paths_, site_.hooks);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

    STDMETHODIMP GetCommandString(UINT_PTR command, UINT type, UINT*, CHAR* name,
                                  UINT capacity) override {
        if (command != 0) return E_INVALIDARG;
        switch (type) {
            case GCS_VERBA: return copy_out(verb_a, name, capacity);
            case GCS_VERBW: return copy_out(verb_w, reinterpret_cast<wchar_t*>(name), capacity);
            case GCS_HELPTEXTA: return copy_out(help_a, name, capacity);
            case GCS_HELPTEXTW:
                return copy_out(help_w, reinterpret_cast<wchar_t*>(name), capacity);
            case GCS_VALIDATEA:
            case GCS_VALIDATEW: return S_OK;
            default: return E_INVALIDARG;
        }
    }

  private:
    ~Handler() = default;

    // By offset 0 or by the verb, in its ANSI or (extended form) Unicode text.
    // Some callers set CMIC_MASK_UNICODE yet leave lpVerbW null: then lpVerb
    // decides, since reading the null as offset 0 would take any verb as ours.
    static bool is_our_command(const CMINVOKECOMMANDINFO& info) {
        if (info.cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && (info.fMask & CMIC_MASK_UNICODE)) {
            const auto& ex = reinterpret_cast<const CMINVOKECOMMANDINFOEX&>(info);
            if (ex.lpVerbW) {
                if (IS_INTRESOURCE(ex.lpVerbW))
                    return LOWORD(reinterpret_cast<UINT_PTR>(ex.lpVerbW)) == 0;
                return _wcsicmp(ex.lpVerbW, verb_w) == 0;
            }
        }
        if (IS_INTRESOURCE(info.lpVerb)) return LOWORD(reinterpret_cast<UINT_PTR>(info.lpVerb)) == 0;
        return _stricmp(info.lpVerb, verb_a) == 0;
    }

    const HandlerSite site_;
    std::atomic<long> references_{1};
    std::vector<std::wstring> paths_;
};

class Factory final : public IClassFactory, private Counted {
  public:
    explicit Factory(const HandlerSite& site) : site_(site) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const long left = --references_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Handler* handler = new (std::nothrow) Handler(site_);
        if (!handler) return E_OUTOFMEMORY;
        const HRESULT hr = handler->QueryInterface(iid, out);
        handler->Release();
        return hr;
    }

    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            ++server_locks;
            return S_OK;
        }
        // An unlock without its lock must not let the DLL go while others hold it.
        long held = server_locks.load();
        do {
            if (held == 0) return E_UNEXPECTED;
        } while (!server_locks.compare_exchange_weak(held, held - 1));
        return S_OK;
    }

  private:
    ~Factory() = default;
    const HandlerSite site_;
    std::atomic<long> references_{1};
};

}  // namespace

bool can_unload() { return live_objects.load() == 0 && server_locks.load() == 0; }

HRESULT get_class_object(const HandlerSite& site, REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, handler_clsid)) return CLASS_E_CLASSNOTAVAILABLE;
    Factory* factory = new (std::nothrow) Factory(site);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
}

}  // namespace korvane::menu
