// Reads a shell link back, through IShellLinkA and from its header bytes.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstdint>
#include <string>

#include "shell_support.h"

namespace korvane::shell_test {

struct LinkReadBack {
    bool loaded = false;
    std::string target, arguments, working_directory, icon_file;
    int icon_index = -1;
    // The link header's flags word (offset 20); 0x40 marks a stored icon location.
    std::uint32_t header_flags = 0;
};

inline constexpr std::uint32_t link_has_icon_location = 0x40;

inline LinkReadBack read_link(const std::string& path) {
    LinkReadBack out;
    const auto bytes = read_file(path);
    if (bytes.size() >= 24 && bytes[0] == 0x4C)
        out.header_flags = bytes[20] | bytes[21] << 8 | bytes[22] << 16 |
                           static_cast<std::uint32_t>(bytes[23]) << 24;

    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return out;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH];
        if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH) &&
            SUCCEEDED(file->Load(wide, STGM_READ))) {
            out.loaded = true;
            char text[MAX_PATH * 2] = {};
            if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) out.target = text;
            text[0] = '\0';
            if (SUCCEEDED(link->GetArguments(text, sizeof text))) out.arguments = text;
            text[0] = '\0';
            if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) out.working_directory = text;
            text[0] = '\0';
            int index = -1;
            if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &index))) {
                out.icon_file = text;
                out.icon_index = index;
            }
        }
        file->Release();
    }
    link->Release();
    return out;
}

// COM for the reading thread.
class ComThread {
  public:
    ComThread() : hr_(CoInitialize(nullptr)) {}
    ~ComThread() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    ComThread(const ComThread&) = delete;
    ComThread& operator=(const ComThread&) = delete;

  private:
    HRESULT hr_;
};

}  // namespace korvane::shell_test
