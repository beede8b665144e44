// Every dialog template as the user meets it: the shell font on every
// control, no control over another nor text cut off at 96, 144 and 192 DPI
// (reached through WM_DPICHANGED, as on a move to another monitor), and
// mnemonics present and unique within each dialog, the settings pages
// counted with their dialog. Templates are found in the resources, so a new
// one is measured without a line here.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"
#include "shell_support.h"
#include "ui/dialog_base.h"

namespace korvane {
namespace {

using shell_test::ScratchFolder;

// A template shown as it is: no behaviour of its own.
class TemplateDialog : public DialogBase {
  public:
    bool handle_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
};

BOOL CALLBACK collect_id(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
    if (IS_INTRESOURCE(name))
        reinterpret_cast<std::vector<int>*>(context)->push_back(
            static_cast<int>(reinterpret_cast<ULONG_PTR>(name)));
    return TRUE;
}

std::vector<int> dialog_templates() {
    std::vector<int> ids;
    EnumResourceNamesW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(5), collect_id,
                       reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

// The window style a DLGTEMPLATEEX asks for.
DWORD template_style(int id) {
    const HMODULE module = GetModuleHandleW(nullptr);
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* bytes = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
    DWORD style = 0;
    if (bytes) std::memcpy(&style, bytes + 12, sizeof style);
    return style;
}

BOOL CALLBACK collect_child(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

std::vector<HWND> descendants(HWND window) {
    std::vector<HWND> all;
    EnumChildWindows(window, collect_child, reinterpret_cast<LPARAM>(&all));
    return all;
}

std::string class_of(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::wstring text_of(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

DWORD style_of(HWND window) {
    return static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
}

bool is_page(HWND window) {
    return class_of(window) == "#32770";
}
// Group boxes and the tab control frame other controls.
bool is_frame(HWND window) {
    if (class_of(window) == "systabcontrol32") return true;
    return class_of(window) == "button" && (style_of(window) & BS_TYPEMASK) == BS_GROUPBOX;
}
// Icons, bars and sliders draw no text and keep no font.
bool draws_no_text(HWND window) {
    const std::string name = class_of(window);
    if (name == "msctls_trackbar32" || name == "msctls_progress32") return true;
    return name == "static" && (style_of(window) & SS_TYPEMASK) == SS_ICON;
}

// Shown as the window now stands: its own style bit and its parents' up to
// the top-level window, whose own visibility does not matter here.
bool shown(HWND control, HWND top) {
    for (HWND w = control; w && w != top; w = GetParent(w))
        if (!(style_of(w) & WS_VISIBLE)) return false;
    return true;
}

std::string describe(HWND control) {
    char line[700];
    std::snprintf(line, sizeof line, "%s %d \"%ls\"", class_of(control).c_str(),
                  GetDlgCtrlID(control), text_of(control).c_str());
    return line;
}

RECT screen_rect(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r;
}

// Text extents in the control's own font.
class Measure {
  public:
    explicit Measure(HWND control) : control_(control), dc_(GetDC(nullptr)) {
        const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
        old_ =
            SelectObject(dc_, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    }
    ~Measure() {
        SelectObject(dc_, old_);
        ReleaseDC(nullptr, dc_);
    }
    // The text drawn within width (wrapping when asked): its size.
    SIZE text(const std::wstring& text, int width, bool wrap, bool prefix) const {
        RECT r{0, 0, width, 0};
        UINT flags = DT_CALCRECT | DT_EXPANDTABS | (wrap ? DT_WORDBREAK : DT_SINGLELINE);
        if (!prefix) flags |= DT_NOPREFIX;
        DrawTextW(dc_, text.c_str(), static_cast<int>(text.size()), &r, flags);
        return {r.right - r.left, r.bottom - r.top};
    }
    int line_height() const {
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc_, &metrics);
        return metrics.tmHeight;
    }

  private:
    HWND control_;
    HDC dc_;
    HGDIOBJ old_;
};

// Why the control's text does not fit it, or empty when it does.
std::string clipped(HWND control, int dpi) {
    const std::wstring text = text_of(control);
    RECT client{};
    GetClientRect(control, &client);
    const int width = client.right, height = client.bottom;
    const std::string name = class_of(control);
    const DWORD style = style_of(control);
    const Measure measure(control);
    const auto px = [dpi](int at96) { return MulDiv(at96, dpi, 96); };
    char why[160] = {};

    if (name == "edit") {
        if (measure.line_height() > height)
            std::snprintf(why, sizeof why, "line %d px in %d px", measure.line_height(), height);
        return why;
    }
    if (text.empty()) return {};
    if (name == "static") {
        const DWORD type = style & SS_TYPEMASK;
        // Ellipses shorten by design; icons and frames hold no text.
        if (type > SS_RIGHT && type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE) return {};
        if (style & SS_ELLIPSISMASK) return {};
        const bool wrap = type <= SS_RIGHT;
        const SIZE need = measure.text(text, width, wrap, !(style & SS_NOPREFIX));
        if (need.cx > width || need.cy > height)
            std::snprintf(why, sizeof why, "needs %ldx%ld px, has %dx%d", need.cx, need.cy, width,
                          height);
        return why;
    }
    if (name != "button") return {};
    switch (style & BS_TYPEMASK) {
        case BS_GROUPBOX: {
            const SIZE need = measure.text(text, width, false, true);
            if (need.cx + px(16) > width)
                std::snprintf(why, sizeof why, "caption needs %ld px, has %d", need.cx + px(16),
                              width);
            return why;
        }
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON: {
            // The frame and the focus rectangle take a few pixels each side.
            const SIZE need = measure.text(text, width, false, true);
            if (need.cx + px(8) > width || need.cy > height)
                std::snprintf(why, sizeof why, "needs %ldx%ld px, has %dx%d", need.cx + px(8),
                              need.cy, width, height);
            return why;
        }
        default: {
            // Check boxes and radio buttons: the box and the gap after it.
            const int room = width - px(17);
            const bool wrap = (style & BS_MULTILINE) != 0;
            const SIZE need = measure.text(text, room, wrap, true);
            if (need.cx > room || need.cy > height)
                std::snprintf(why, sizeof why, "needs %ldx%ld px beside the box, has %dx%d",
                              need.cx, need.cy, room, height);
            return why;
        }
    }
}

struct Figures {
    int controls = 0, overlaps = 0, clips = 0, outside = 0;
};

// Every shown control of the window against every other, and each one's text.
Figures measure_window(HWND top, int dpi, const std::string& label) {
    Figures figures;
    std::vector<HWND> items;
    for (const HWND w : descendants(top)) {
        if (is_page(w)) {
            if (shown(w, top)) items.push_back(w);
            continue;
        }
        // Text is measured in hidden controls too: they show in other states.
        ++figures.controls;
        const std::string why = clipped(w, dpi);
        if (!why.empty()) {
            ++figures.clips;
            ADD_FAILURE() << label << " at " << dpi << " DPI: " << describe(w)
                          << " is cut off: " << why;
        }
        if (shown(w, top)) items.push_back(w);
    }
    for (const HWND w : items) {
        // Inside the dialog that holds it.
        RECT own = screen_rect(w), area{};
        const HWND parent = GetParent(w);
        GetClientRect(parent, &area);
        MapWindowPoints(parent, nullptr, reinterpret_cast<POINT*>(&area), 2);
        RECT inside{};
        IntersectRect(&inside, &own, &area);
        if (!EqualRect(&inside, &own)) {
            ++figures.outside;
            ADD_FAILURE() << label << " at " << dpi << " DPI: " << describe(w)
                          << " reaches past its dialog's edge";
        }
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        for (std::size_t j = i + 1; j < items.size(); ++j) {
            const HWND a = items[i], b = items[j];
            if (IsChild(a, b) || IsChild(b, a)) continue;
            if (is_frame(a) || is_frame(b)) continue;  // around others by design
            RECT ra = screen_rect(a), rb = screen_rect(b), common{};
            if (!IntersectRect(&common, &ra, &rb)) continue;
            ++figures.overlaps;
            ADD_FAILURE() << label << " at " << dpi << " DPI: " << describe(a) << " overlaps "
                          << describe(b);
        }
    }
    return figures;
}

// The font height each control had at 96 DPI, to check what scaling gave.
std::map<HWND, LONG> font_heights(HWND top) {
    std::map<HWND, LONG> heights;
    for (const HWND w : descendants(top)) {
        const auto font = reinterpret_cast<HFONT>(SendMessageW(w, WM_GETFONT, 0, 0));
        LOGFONTW lf{};
        if (font && !is_page(w) && GetObjectW(font, sizeof lf, &lf)) heights[w] = lf.lfHeight;
    }
    return heights;
}

// The shell's answer for the font every template asks for.
std::wstring resolved_face(HFONT font) {
    HDC dc = GetDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return face;
}

bool under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The mnemonic of a text ('&' before a character other than '&'), or 0.
wchar_t mnemonic(const std::wstring& text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != L'&') continue;
        if (text[i + 1] == L'&') {
            ++i;
            continue;
        }
        return static_cast<wchar_t>(std::towupper(text[i + 1]));
    }
    return 0;
}

// Buttons and the labels among the texts need a mnemonic: a static text
// without SS_NOPREFIX is a label, one with it shows data or prose.
bool needs_mnemonic(HWND control) {
    const std::string name = class_of(control);
    const DWORD style = style_of(control);
    if (name == "button") return (style & BS_TYPEMASK) != BS_GROUPBOX;
    if (name != "static" || text_of(control).empty()) return false;
    const DWORD type = style & SS_TYPEMASK;
    if (type > SS_RIGHT && type != SS_LEFTNOWORDWRAP && type != SS_SIMPLE) return false;
    return !(style & SS_NOPREFIX);
}

class DialogLayout : public testing::Test {
  protected:
    void SetUp() override {
        saved_ = current_settings;
        current_settings = Settings{};
        std::snprintf(current_settings.ini_path, settings_path_size, "%s",
                      scratch_.file("korvane.ini").c_str());
        std::snprintf(paths_.lock_shortcut_path, settings_path_size, "%s",
                      scratch_.file("Lock File.lnk").c_str());
        std::snprintf(paths_.unlock_shortcut_path, settings_path_size, "%s",
                      scratch_.file("Unlock File.lnk").c_str());
    }
    void TearDown() override {
        for (auto& [id, dialog] : dialogs_)
            if (dialog->window()) DestroyWindow(dialog->window());
        current_settings = saved_;
    }

    // Each top-level template as a window of its own; the settings dialog
    // with its real pages, which are the child templates.
    struct Shown {
        int id;
        HWND window;
    };
    std::vector<Shown> create_every_dialog() {
        std::vector<Shown> shown;
        std::vector<int> pages;
        for (const int id : dialog_templates()) {
            if (template_style(id) & WS_CHILD) {
                pages.push_back(id);
                continue;
            }
            std::unique_ptr<DialogBase> dialog;
            if (id == IDD_SETTINGS)
                dialog = std::make_unique<SettingsDialog>(current_settings, paths_,
                                                          StartUpActions{[] { return 1; }, {}});
            else
                dialog = std::make_unique<TemplateDialog>();
            const HWND window = create_modeless(*dialog, id, nullptr, 0);
            EXPECT_NE(window, nullptr) << "template " << id;
            if (!window) continue;
            shown.push_back({id, window});
            dialogs_.emplace_back(id, std::move(dialog));
        }
        // Every child template is one of the settings pages.
        auto* settings = settings_dialog();
        EXPECT_NE(settings, nullptr);
        for (const int page : pages) {
            bool found = false;
            for (std::size_t i = 0; settings && i < settings_page_count; ++i)
                found = found || (settings->page(i).window() && page_template(i) == page);
            EXPECT_TRUE(found) << "child template " << page << " is not a settings page";
        }
        return shown;
    }
    SettingsDialog* settings_dialog() {
        for (auto& [id, dialog] : dialogs_)
            if (id == IDD_SETTINGS) return static_cast<SettingsDialog*>(dialog.get());
        return nullptr;
    }
    static int page_template(std::size_t index) {
        static constexpr int ids[] = {IDD_PAGE_ENCRYPTION, IDD_PAGE_DECRYPTION,
                                      IDD_PAGE_COMPRESSION, IDD_PAGE_STARTUP};
        return ids[index];
    }
    // The states a dialog is measured in: each settings page in front.
    template <class Check>
    void in_each_state(const Shown& dialog, Check check) {
        if (dialog.id != IDD_SETTINGS) {
            check(std::to_string(dialog.id));
            return;
        }
        SettingsDialog* settings = settings_dialog();
        const HWND tabs = GetDlgItem(dialog.window, IDC_SETTINGS_TABS);
        for (std::size_t i = 0; i < settings_page_count; ++i) {
            SendMessageW(tabs, TCM_SETCURSEL, i, 0);
            NMHDR header{tabs, IDC_SETTINGS_TABS, static_cast<UINT>(TCN_SELCHANGE)};
            SendMessageW(dialog.window, WM_NOTIFY, IDC_SETTINGS_TABS,
                         reinterpret_cast<LPARAM>(&header));
            ASSERT_TRUE(settings->page(i).window());
            check(std::to_string(dialog.id) + " page " + std::to_string(page_template(i)));
        }
    }

    Settings saved_{};
    ScratchFolder scratch_{"layout"};
    ShellPaths paths_{};
    std::vector<std::pair<int, std::unique_ptr<DialogBase>>> dialogs_;
};

TEST_F(DialogLayout, EveryControlDrawsInTheShellFont) {
    // What the system draws for "MS Shell Dlg 2": its substitute (Tahoma
    // under Wine, Segoe UI on Windows 10 and 11), or whatever stands in for
    // that where it is not installed.
    LOGFONTW wanted{};
    wanted.lfHeight = -11;
    std::wcscpy(wanted.lfFaceName, L"MS Shell Dlg 2");
    const HFONT reference = CreateFontIndirectW(&wanted);
    ASSERT_NE(reference, nullptr);
    const std::wstring shell_face = resolved_face(reference);
    DeleteObject(reference);
    if (under_wine()) {
        wchar_t substitute[LF_FACESIZE] = {};
        DWORD size = sizeof substitute;
        ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE,
                               L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
                               L"MS Shell Dlg 2", RRF_RT_REG_SZ, nullptr, substitute, &size),
                  ERROR_SUCCESS);
        EXPECT_STREQ(substitute, L"Tahoma");
    }

    int checked = 0;
    for (const Shown& dialog : create_every_dialog()) {
        for (const HWND control : descendants(dialog.window)) {
            if (draws_no_text(control)) continue;
            const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
            ASSERT_NE(font, nullptr) << dialog.id << " " << describe(control);
            LOGFONTW lf{};
            ASSERT_TRUE(GetObjectW(font, sizeof lf, &lf));
            EXPECT_STREQ(lf.lfFaceName, L"MS Shell Dlg 2") << dialog.id << " " << describe(control);
            EXPECT_EQ(resolved_face(font), shell_face) << dialog.id << " " << describe(control);
            ++checked;
        }
    }
    EXPECT_GT(checked, 30);
}

TEST_F(DialogLayout, NoControlOverlapsAnotherOrLosesTextAtThreeDpis) {
    const std::vector<Shown> dialogs = create_every_dialog();
    ASSERT_FALSE(dialogs.empty());
    std::string table;
    for (const int dpi : {96, 144, 192}) {
        Figures total;
        for (const Shown& dialog : dialogs) {
            if (dpi != 96 || window_dpi(dialog.window) != 96) {
                // As the system asks when the window reaches a monitor of that
                // DPI: the same corner, the size scaled.
                RECT now = screen_rect(dialog.window);
                DialogBase* object = nullptr;
                for (auto& [id, d] : dialogs_)
                    if (id == dialog.id) object = d.get();
                ASSERT_NE(object, nullptr);
                const int old_dpi = object->dpi();
                RECT wanted{now.left, now.top,
                            now.left + MulDiv(now.right - now.left, dpi, old_dpi),
                            now.top + MulDiv(now.bottom - now.top, dpi, old_dpi)};
                SendMessageW(dialog.window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                             reinterpret_cast<LPARAM>(&wanted));
                const RECT took = screen_rect(dialog.window);
                EXPECT_TRUE(EqualRect(&took, &wanted)) << dialog.id << " at " << dpi;
                EXPECT_EQ(object->dpi(), dpi);
                // Every control's font is the templates' 8 points at the new DPI.
                for (const auto& [control, height] : font_heights(dialog.window))
                    EXPECT_EQ(height, -MulDiv(8, dpi, 72))
                        << dialog.id << " " << describe(control) << " at " << dpi;
            }
            in_each_state(dialog, [&](const std::string& label) {
                const Figures f = measure_window(dialog.window, dpi, label);
                total.controls += f.controls;
                total.overlaps += f.overlaps;
                total.clips += f.clips;
                total.outside += f.outside;
            });
        }
        char line[160];
        std::snprintf(line, sizeof line,
                      "%d DPI: %d controls measured, %d overlapping pairs, %d cut off, %d past "
                      "an edge\n",
                      dpi, total.controls, total.overlaps, total.clips, total.outside);
        table += line;
    }
    // The figures for the record, in the test's output.
    std::printf("%s", table.c_str());
    RecordProperty("figures", table);
}

TEST_F(DialogLayout, EveryLabelAndButtonHasAMnemonicUniqueInItsDialog) {
    for (const Shown& dialog : create_every_dialog()) {
        // The settings pages count with their dialog: all are one window to the user.
        std::map<wchar_t, std::string> taken;
        for (const HWND control : descendants(dialog.window)) {
            if (!needs_mnemonic(control)) continue;
            const wchar_t key = mnemonic(text_of(control));
            if (!key) {
                ADD_FAILURE() << "template " << dialog.id << ": " << describe(control)
                              << " has no mnemonic";
                continue;
            }
            const auto [at, fresh] = taken.emplace(key, describe(control));
            EXPECT_TRUE(fresh) << "template " << dialog.id << ": " << describe(control) << " and "
                               << at->second << " share a mnemonic";
        }
    }
}

}  // namespace
}  // namespace korvane
