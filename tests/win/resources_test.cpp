// The compiled resources as the program sees them: icon groups and their
// images, the dialog templates' font (the .rc is UTF-8), and the manifest's
// effect on the common controls.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "resources/resource_ids.h"

namespace korvane {
namespace {

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD bytes;
    WORD id;
};
struct IconGroup {
    WORD reserved, type, count;
    IconGroupEntry entries[1];
};
#pragma pack(pop)

const void* resource_data(LPCSTR id, LPCSTR type, DWORD* size = nullptr) {
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC found = FindResourceA(module, id, type);
    if (!found) return nullptr;
    if (size) *size = SizeofResource(module, found);
    const HGLOBAL loaded = LoadResource(module, found);
    return loaded ? LockResource(loaded) : nullptr;
}

BOOL CALLBACK collect_name(HMODULE, LPCSTR, LPSTR name, LONG_PTR context) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<int>*>(context)->push_back(
            static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
    }
    return TRUE;
}

TEST(ResourceIcons, FourGroupsInShellOrderEachWithA48AndA32ImageOf256Colours) {
    // A shell icon index counts the groups in this order.
    std::vector<int> groups;
    EnumResourceNamesA(GetModuleHandleA(nullptr), RT_GROUP_ICON, collect_name,
                       reinterpret_cast<LONG_PTR>(&groups));
    EXPECT_EQ(groups, (std::vector<int>{IDI_KORVANE, IDI_NEUTRAL, IDI_LOCK, IDI_UNLOCK}));

    for (const int id : {IDI_KORVANE, IDI_NEUTRAL, IDI_LOCK, IDI_UNLOCK}) {
        SCOPED_TRACE(id);
        const auto* group =
            static_cast<const IconGroup*>(resource_data(MAKEINTRESOURCEA(id), RT_GROUP_ICON));
        ASSERT_NE(group, nullptr);
        ASSERT_EQ(group->count, 2);
        for (int i = 0; i < 2; ++i) {
            const IconGroupEntry& entry = group->entries[i];
            EXPECT_EQ(entry.width, i == 0 ? 48 : 32);
            EXPECT_EQ(entry.height, entry.width);
            EXPECT_EQ(entry.bits, 8);
        }
        for (const int size : {48, 32}) {
            const HICON icon = static_cast<HICON>(LoadImageA(
                GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, size, size, 0));
            EXPECT_NE(icon, nullptr) << size;
            if (icon) DestroyIcon(icon);
        }
    }
}

// Reads past a DLGTEMPLATEEX header to its font: point size and face.
struct TemplateFont {
    bool extended = false;
    DWORD style = 0;
    WORD points = 0;
    std::wstring face;
};

const WORD* skip_name_or_ordinal(const WORD* at) {
    if (*at == 0) return at + 1;
    if (*at == 0xFFFF) return at + 2;
    while (*at) ++at;
    return at + 1;
}

TemplateFont read_template_font(int id) {
    TemplateFont font;
    const auto* words = static_cast<const WORD*>(resource_data(MAKEINTRESOURCEA(id), RT_DIALOG));
    if (!words || words[0] != 1 || words[1] != 0xFFFF) return font;
    font.extended = true;
    const auto* bytes = reinterpret_cast<const BYTE*>(words);
    std::memcpy(&font.style, bytes + 12, sizeof font.style);
    const WORD* at = reinterpret_cast<const WORD*>(bytes + 26);  // past the fixed header
    at = skip_name_or_ordinal(at);                               // menu
    at = skip_name_or_ordinal(at);                               // class
    while (*at) ++at;                                            // caption
    ++at;
    if (!(font.style & DS_SETFONT)) return font;
    font.points = at[0];
    at += 3;  // point size, weight, italic and character set
    font.face.assign(reinterpret_cast<const wchar_t*>(at));
    return font;
}

TEST(ResourceTemplates, EveryDialogAsksForTheShellFont) {
    for (const int id : {IDD_ABOUT, IDD_LOCK, IDD_PROGRESS, IDD_SETTINGS, IDD_PAGE_ENCRYPTION,
                         IDD_PAGE_DECRYPTION, IDD_PAGE_COMPRESSION, IDD_PAGE_STARTUP}) {
        SCOPED_TRACE(id);
        const TemplateFont font = read_template_font(id);
        ASSERT_TRUE(font.extended);
        EXPECT_EQ(font.style & DS_SHELLFONT, static_cast<DWORD>(DS_SHELLFONT));
        EXPECT_EQ(font.points, 8);
        EXPECT_TRUE(font.face == L"MS Shell Dlg 2");
        // The two dialogs that carry the version item have a system menu, and
        // the progress window for its minimise box.
        const bool system_menu = id == IDD_LOCK || id == IDD_SETTINGS || id == IDD_PROGRESS;
        EXPECT_EQ((font.style & WS_SYSMENU) != 0, system_menu);
    }
    // The window the taskbar shows can be minimised, and so can the progress.
    EXPECT_TRUE(read_template_font(IDD_LOCK).style & WS_MINIMIZEBOX);
    EXPECT_TRUE(read_template_font(IDD_PROGRESS).style & WS_MINIMIZEBOX);
}

TEST(ResourceManifest, SelectsCommonControlsSix) {
    DWORD size = 0;
    const auto* text = static_cast<const char*>(
        resource_data(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST, &size));
    ASSERT_NE(text, nullptr);
    const std::string manifest(text, size);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    // Aware of each monitor's DPI (the second version where the system has
    // it), as the loader read it.
    wchar_t awareness[64] = {};
    SIZE_T awareness_size = 0;
    ASSERT_TRUE(
        QueryActCtxSettingsW(0, nullptr, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                             L"dpiAwareness", awareness, std::size(awareness), &awareness_size));
    EXPECT_STREQ(awareness, L"PerMonitorV2, PerMonitor");
    wchar_t aware[16] = {};
    ASSERT_TRUE(QueryActCtxSettingsW(0, nullptr,
                                     L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                                     L"dpiAware", aware, std::size(aware), &awareness_size));
    EXPECT_STREQ(aware, L"true/pm");
    // As the loader read it: paths past 260 characters where the system allows them.
    wchar_t value[8] = {};
    SIZE_T written = 0;
    ASSERT_TRUE(QueryActCtxSettingsW(0, nullptr,
                                     L"http://schemas.microsoft.com/SMI/2016/WindowsSettings",
                                     L"longPathAware", value, std::size(value), &written));
    EXPECT_STREQ(value, L"true");

    // Its effect: comctl32 comes from the side-by-side store, version 6 (Wine's
    // copy there reports 5.81 from DllGetVersion, so the path is what tells).
    const HMODULE comctl = GetModuleHandleA("comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    char path[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(comctl, path, MAX_PATH), 0u);
    std::string lower(path);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string store = sizeof(void*) == 8 ? "\\winsxs\\amd64_" : "\\winsxs\\x86_";
    EXPECT_NE(lower.find(store + "microsoft.windows.common-controls_6595b64144ccf1df_6."),
              std::string::npos)
        << path;

    EXPECT_NE(resource_data(MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION), nullptr);
}

}  // namespace
}  // namespace korvane
