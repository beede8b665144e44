// A CF_HDROP data object as the shell hands it to a handler's Initialize.
// Shared by the in-process tests and the host probe, so it needs nothing but
// the platform headers.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace korvane::menu_test {

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

}  // namespace korvane::menu_test
