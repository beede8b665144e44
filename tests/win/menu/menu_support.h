// Helpers for the kvnmenu.dll tests: the built DLL loaded by path, a data
// object carrying a CF_HDROP selection, and hooks that record the launch and
// the message box instead of starting a process or blocking on a window.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "menu/menu_hooks.h"

namespace korvane::menu_test {

// {4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}, parsed from the text install writes.
inline CLSID handler_clsid() {
    CLSID id = {};
    const HRESULT hr = CLSIDFromString(L"{4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}", &id);
    EXPECT_EQ(hr, S_OK);
    return id;
}

inline std::wstring folder_of(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline std::wstring full_path(const std::wstring& path) {
    wchar_t out[MAX_PATH] = {};
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, out, nullptr);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, static_cast<DWORD>(MAX_PATH));
    return out;
}

// The DLL the build put beside korvane.exe.
inline std::wstring built_dll_path() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::string relative = KORVANE_MENU_DLL_RELATIVE;
    return full_path(folder_of(self) + std::wstring(relative.begin(), relative.end()));
}

struct Recorder {
    std::vector<std::wstring> applications, lines, messages;
    std::vector<HWND> owners;
    BOOL launch_result = TRUE;
    DWORD launch_error = 0;

    static BOOL launch(void* context, const wchar_t* application, const wchar_t* line) {
        auto& self = *static_cast<Recorder*>(context);
        self.applications.emplace_back(application);
        self.lines.emplace_back(line);
        if (!self.launch_result) SetLastError(self.launch_error);
        return self.launch_result;
    }
    static void message(void* context, HWND owner, const wchar_t* text) {
        auto& self = *static_cast<Recorder*>(context);
        self.messages.emplace_back(text);
        self.owners.push_back(owner);
    }
};

// GetProcAddress's FARPROC, through void* to the export's real type.
template <typename Fn>
Fn export_of(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

inline CMINVOKECOMMANDINFO invoke_info() {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    return info;
}

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(WINAPI*)();

// Loads the DLL and points its hooks at a recorder before anything can run.
class MenuDll {
  public:
    explicit MenuDll(const std::wstring& path = built_dll_path())
        : path_(path), module_(LoadLibraryW(path.c_str())) {
        if (!module_) return;
        get_class_object_ = export_of<GetClassObjectFn>(module_, "DllGetClassObject");
        can_unload_now_ = export_of<CanUnloadNowFn>(module_, "DllCanUnloadNow");
        set_hooks_ = export_of<KvnMenuSetHooksFn>(module_, "KvnMenuSetHooks");
        if (set_hooks_) {
            const KvnMenuHooks hooks = {Recorder::launch, Recorder::message, &recorder};
            set_hooks_(&hooks);
        }
    }
    ~MenuDll() {
        if (module_) FreeLibrary(module_);
    }
    MenuDll(const MenuDll&) = delete;
    MenuDll& operator=(const MenuDll&) = delete;

    bool ready() const { return module_ && get_class_object_ && can_unload_now_ && set_hooks_; }
    const std::wstring& path() const { return path_; }
    HRESULT can_unload_now() const { return can_unload_now_(); }
    HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) const {
        return get_class_object_(clsid, iid, out);
    }
    IClassFactory* factory() const {
        void* out = nullptr;
        EXPECT_EQ(get_class_object_(handler_clsid(), IID_IClassFactory, &out), S_OK);
        return static_cast<IClassFactory*>(out);
    }

    Recorder recorder;

  private:
    std::wstring path_;
    HMODULE module_;
    GetClassObjectFn get_class_object_ = nullptr;
    CanUnloadNowFn can_unload_now_ = nullptr;
    KvnMenuSetHooksFn set_hooks_ = nullptr;
};

// A DROPFILES block with wide names, as the shell builds it.
inline std::vector<unsigned char> drop_block(const std::vector<std::wstring>& paths) {
    std::vector<unsigned char> block(sizeof(DROPFILES));
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::memcpy(block.data(), &header, sizeof header);
    const auto put = [&](const std::wstring& s) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(s.c_str());
        block.insert(block.end(), bytes, bytes + (s.size() + 1) * sizeof(wchar_t));
    };
    for (const std::wstring& path : paths) put(path);
    put(L"");
    return block;
}

// Hands out a fresh copy of its CF_HDROP block for every GetData, which the
// receiver must release; offers nothing when built without one.
class DropData final : public IDataObject {
  public:
    explicit DropData(std::vector<unsigned char> block, bool offer_hdrop = true)
        : block_(std::move(block)), offer_hdrop_(offer_hdrop) {}
    long references() const { return references_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDataObject)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IDataObject*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    // Owned by the test on its stack: never deleted here.
    STDMETHODIMP_(ULONG) Release() override { return --references_; }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override {
        if (!format || !medium) return E_INVALIDARG;
        if (QueryGetData(format) != S_OK) return DV_E_FORMATETC;
        HGLOBAL memory = GlobalAlloc(GHND, block_.size());
        if (!memory) return E_OUTOFMEMORY;
        void* bytes = GlobalLock(memory);
        std::memcpy(bytes, block_.data(), block_.size());
        GlobalUnlock(memory);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        ++handed_out;
        return S_OK;
    }
    STDMETHODIMP QueryGetData(FORMATETC* format) override {
        if (!offer_hdrop_ || format->cfFormat != CF_HDROP || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
        if (out) out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
        return OLE_E_ADVISENOTSUPPORTED;
    }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

    int handed_out = 0;

  private:
    std::vector<unsigned char> block_;
    bool offer_hdrop_;
    std::atomic<long> references_{1};
};

template <typename T>
struct Com {
    T* p = nullptr;
    Com() = default;
    explicit Com(T* raw) : p(raw) {}
    ~Com() { reset(); }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    void reset() {
        if (p) p->Release();
        p = nullptr;
    }
    void** out() {
        reset();
        return reinterpret_cast<void**>(&p);
    }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct Menu {
    HMENU handle = CreatePopupMenu();
    ~Menu() {
        if (handle) DestroyMenu(handle);
    }
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;
    Menu() = default;
    std::wstring text(int index) const {
        wchar_t buffer[256] = {};
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING;
        item.dwTypeData = buffer;
        item.cch = 256;
        if (!GetMenuItemInfoW(handle, static_cast<UINT>(index), TRUE, &item)) return L"<none>";
        return buffer;
    }
};

// A handler already given a selection.
struct Selected {
    Com<IShellExtInit> init;
    Com<IContextMenu> menu;
    HRESULT initialised = E_FAIL;

    Selected(const MenuDll& dll, const std::vector<std::wstring>& paths) {
        Com<IClassFactory> factory(dll.factory());
        if (!factory) return;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, init.out()), S_OK);
        if (!init) return;
        DropData data(drop_block(paths));
        initialised = init->Initialize(nullptr, &data, nullptr);
        EXPECT_EQ(data.references(), 1) << "the handler kept the data object";
        EXPECT_EQ(init->QueryInterface(IID_IContextMenu, menu.out()), S_OK);
    }
};

inline std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace korvane::menu_test
