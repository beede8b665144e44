#include "ui/dialog_base.h"

#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/win32/scoped_win.h"
#include "platform/win32/system_function.h"

namespace korvane {
namespace {

struct ThreadEntry {
    DWORD thread_id;
    void* message_loop;
};

struct ModuleState {
    HINSTANCE instance = nullptr;
    std::optional<win::CriticalSection> lock;  // held while the window list is released
    CreationRecord* creations = nullptr;       // newest first
    std::optional<win::CriticalSection> creation_lock;
    DWORD main_thread = 0;
    // Nothing adds to these two; they exist so that shutdown has a fixed shape.
    std::optional<std::vector<ThreadEntry>> threads;
    std::optional<std::vector<HWND>> windows;
};

ModuleState& state() {
    static ModuleState module;
    return module;
}

// DWLP_USER of a window that found no record, and of one whose object has
// let go: such a window gets the dialog manager's default handling and never
// takes a record meant for another window.
char unbound_marker;
const LONG_PTR unbound = reinterpret_cast<LONG_PTR>(&unbound_marker);

// Unlinks and returns the newest record of the thread, if any.
DialogBase* take_creation(DWORD thread_id) {
    ModuleState& module = state();
    if (!module.creation_lock) return nullptr;
    win::CriticalSectionLock hold(*module.creation_lock);
    for (CreationRecord** link = &module.creations; *link; link = &(*link)->next) {
        CreationRecord* record = *link;
        if (record->thread_id != thread_id) continue;
        *link = record->next;
        record->next = nullptr;
        return record->object;
    }
    return nullptr;
}

// Windows 10 scales a per-monitor dialog itself when the DPI changes; ours
// scale in one place for every system, so the dialog manager keeps out.
void keep_dialog_manager_from_scaling(HWND window) {
    using SetBehaviour = BOOL(WINAPI*)(HWND, int mask, int values);
    constexpr int disable_all = 1;  // DDC_DISABLE_ALL
    if (const auto set =
            win::system_function<SetBehaviour>("user32.dll", "SetDialogDpiChangeBehavior"))
        set(window, disable_all, disable_all);
}

BOOL CALLBACK collect_child(HWND window, LPARAM context) {
    reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

bool is_dialog_window(HWND window) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    return std::strcmp(name, "#32770") == 0;
}

const wchar_t taskbar_button_property[] = L"Korvane.TaskbarButton";

bool returns_result_directly(UINT message) {
    switch (message) {
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
            return true;
        default:
            return message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
    }
}

}  // namespace

DialogBase::~DialogBase() {
    release_fonts(fonts_);
}

int window_dpi(HWND window) {
    using GetDpi = UINT(WINAPI*)(HWND);
    if (const auto get = win::system_function<GetDpi>("user32.dll", "GetDpiForWindow")) {
        if (const UINT dpi = get(window)) return static_cast<int>(dpi);
    }
    const win::ScopedGetDC dc(window);
    const int dpi = dc.get() ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : 96;
}

UINT taskbar_button_created_message() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return message;
}

bool has_taskbar_button(HWND window) {
    return window && GetPropW(window, taskbar_button_property) != nullptr;
}

void DialogBase::release_fonts(std::vector<ScaledFont>& fonts) {
    for (const ScaledFont& scaled : fonts) DeleteObject(scaled.font);
    fonts.clear();
}

void DialogBase::scale_to_dpi(int new_dpi, const RECT& suggested) {
    const int old_dpi = dpi_;
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (new_dpi <= 0 || old_dpi <= 0 || new_dpi == old_dpi) {
        dpi_ = new_dpi > 0 ? new_dpi : old_dpi;
        return;
    }

    std::vector<HWND> children;
    EnumChildWindows(window_, collect_child, reinterpret_cast<LPARAM>(&children));
    std::vector<ScaledFont> made;
    // The font for a control that had `font`, made once per font.
    const auto scaled_font = [&](HFONT font) -> HFONT {
        for (const ScaledFont& scaled : made)
            if (scaled.font == font) return font;  // a control we reached twice
        ScaledFont source{};
        bool found = false;
        for (const ScaledFont& earlier : fonts_) {
            if (earlier.font != font) continue;
            source = earlier;
            found = true;
        }
        if (!found) {
            // A template's font: scaled from what it is now.
            if (GetObjectW(font, sizeof source.base, &source.base) != sizeof source.base)
                return nullptr;
            source.base_dpi = old_dpi;
        }
        for (const ScaledFont& scaled : made) {
            if (scaled.base_dpi == source.base_dpi &&
                std::memcmp(&scaled.base, &source.base, sizeof source.base) == 0)
                return scaled.font;
        }
        LOGFONTW wanted = source.base;
        if (source.base.lfHeight < 0) {
            // A height in points, as templates give it: the same points at
            // the new DPI, as a window created there would get.
            const int points = MulDiv(-source.base.lfHeight, 72, source.base_dpi);
            wanted.lfHeight = -MulDiv(points, new_dpi, 72);
        } else {
            wanted.lfHeight = MulDiv(source.base.lfHeight, new_dpi, source.base_dpi);
        }
        wanted.lfWidth = MulDiv(source.base.lfWidth, new_dpi, source.base_dpi);
        const HFONT created = CreateFontIndirectW(&wanted);
        if (!created) return nullptr;
        try {
            made.push_back({created, source.base, source.base_dpi});
        } catch (...) {
            DeleteObject(created);
            return nullptr;
        }
        return created;
    };

    for (const HWND child : children) {
        RECT place{};
        const HWND parent = GetParent(child);
        if (GetWindowRect(child, &place) && parent) {
            MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&place), 2);
            // Each edge scaled on its own keeps neighbours' shared edges shared.
            const int left = MulDiv(place.left, new_dpi, old_dpi);
            const int top = MulDiv(place.top, new_dpi, old_dpi);
            const int right = MulDiv(place.right, new_dpi, old_dpi);
            const int bottom = MulDiv(place.bottom, new_dpi, old_dpi);
            SetWindowPos(child, nullptr, left, top, right - left, bottom - top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
        // A page inside the window keeps the font its dialog manager made;
        // its controls get the scaled one.
        if (is_dialog_window(child)) continue;
        const auto font = reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0));
        if (!font) continue;
        if (const HFONT scaled = scaled_font(font))
            SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(scaled), TRUE);
    }
    // No control uses the fonts of the previous DPI any more.
    release_fonts(fonts_);
    fonts_ = std::move(made);
    dpi_ = new_dpi;
    dpi_changed();
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

InstanceProcedure DialogBase::get_instance_procedure() {
    return instance_procedure;
}

void DialogBase::window_released(HWND) {}

bool module_init(HINSTANCE instance) {
    ModuleState& module = state();
    module.instance = instance;
    module.creations = nullptr;
    module.lock.emplace();
    module.creation_lock.emplace();
    return true;
}

void module_attach_main_thread() {
    ModuleState& module = state();
    module.main_thread = GetCurrentThreadId();
    module.threads.emplace();
    module.windows.reset();
}

void module_shutdown() {
    ModuleState& module = state();
    if (module.lock) {
        win::CriticalSectionLock hold(*module.lock);
        if (module.windows) {
            if (!module.windows->empty()) DestroyWindow(module.windows->front());
            module.windows.reset();
        }
    }
    module.threads.reset();
    module_term();
}

void module_term() {
    ModuleState& module = state();
    module.creation_lock.reset();
    module.lock.reset();
    module.creations = nullptr;
}

HINSTANCE module_instance() {
    return state().instance;
}

DWORD module_main_thread() {
    return state().main_thread;
}

bool register_creation(CreationRecord& record, DialogBase& object) {
    ModuleState& module = state();
    if (!module.creation_lock) return false;
    record.object = &object;
    record.thread_id = GetCurrentThreadId();
    win::CriticalSectionLock hold(*module.creation_lock);
    record.next = module.creations;
    module.creations = &record;
    return true;
}

void withdraw_creation(CreationRecord& record) {
    ModuleState& module = state();
    if (!module.creation_lock) return;
    win::CriticalSectionLock hold(*module.creation_lock);
    for (CreationRecord** link = &module.creations; *link; link = &(*link)->next) {
        if (*link != &record) continue;
        *link = record.next;
        record.next = nullptr;
        return;
    }
}

std::size_t pending_creations() {
    ModuleState& module = state();
    if (!module.creation_lock) return 0;
    win::CriticalSectionLock hold(*module.creation_lock);
    std::size_t count = 0;
    for (const CreationRecord* record = module.creations; record; record = record->next) ++count;
    return count;
}

INT_PTR CALLBACK start_dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    const LONG_PTR slot = GetWindowLongPtrA(window, DWLP_USER);
    if (slot == unbound) return FALSE;
    if (slot != 0) {
        auto* object = reinterpret_cast<DialogBase*>(slot);
        return object->procedure_(object, message, wparam, lparam);
    }

    // The window's first message, sent from inside the creation call.
    DialogBase* object = take_creation(GetCurrentThreadId());
    if (!object) {
        SetWindowLongPtrA(window, DWLP_USER, unbound);
        return FALSE;
    }
    object->window_ = window;
    object->procedure_ = object->get_instance_procedure();
    object->dpi_ = window_dpi(window);
    if (!(GetWindowLongW(window, GWL_STYLE) & WS_CHILD)) keep_dialog_manager_from_scaling(window);
    SetLastError(0);
    if (!SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(object)) &&
        GetLastError() != 0) {
        // A window whose later messages could not reach its object would run
        // without any behaviour (a progress dialog that never ends): make the
        // creation call fail instead.
        object->window_ = nullptr;
        DestroyWindow(window);
        return FALSE;
    }
    return object->procedure_(object, message, wparam, lparam);
}

INT_PTR instance_procedure(DialogBase* object, UINT message, WPARAM wparam, LPARAM lparam) {
    const HWND window = object->window_;
    if (message != 0 && message == taskbar_button_created_message())
        SetPropW(window, taskbar_button_property, reinterpret_cast<HANDLE>(1));
    MSG current{window, message, wparam, lparam, 0, {0, 0}};
    const MSG* outer = std::exchange(object->current_message_, &current);
    LRESULT result = 0;
    const bool handled = object->handle_message(window, message, wparam, lparam, result);
    object->current_message_ = outer;

    if (message == WM_NCDESTROY) {
        // The last message of the window, handled or not: the object lets go
        // of the handle before anything can use it again.
        object->window_ = nullptr;
        SetWindowLongPtrA(window, DWLP_USER, unbound);
        RemovePropW(window, taskbar_button_property);
        object->release_fonts(object->fonts_);
        object->window_released(window);
        return FALSE;
    }
    if (message == WM_DPICHANGED && !handled && lparam) {
        // Top-level windows only get it: the whole window is scaled here.
        object->scale_to_dpi(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
        SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    if (!handled) return FALSE;
    if (returns_result_directly(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR run_modal(DialogBase& dialog, int resource_id, HWND owner, LPARAM init_parameter) {
    if (!register_creation(dialog.creation_record(), dialog)) return -1;
    const INT_PTR result = DialogBoxParamW(module_instance(), MAKEINTRESOURCEW(resource_id), owner,
                                           start_dialog_procedure, init_parameter);
    withdraw_creation(dialog.creation_record());
    return result;
}

HWND create_modeless(DialogBase& dialog, int resource_id, HWND parent, LPARAM init_parameter) {
    if (!register_creation(dialog.creation_record(), dialog)) return nullptr;
    const HWND window = CreateDialogParamW(module_instance(), MAKEINTRESOURCEW(resource_id), parent,
                                           start_dialog_procedure, init_parameter);
    withdraw_creation(dialog.creation_record());
    return window;
}

bool center_window(HWND dialog) {
    RECT area{}, centre{}, own{};
    if (!GetWindowRect(dialog, &own)) return false;

    if (GetWindowLongA(dialog, GWL_STYLE) & WS_CHILD) {
        const HWND parent = GetParent(dialog);
        // The parent's client rectangle bounds the child and is what it is
        // centred on; a child moves in those same client coordinates.
        if (!parent || !GetClientRect(parent, &area)) return false;
        centre = area;
    } else {
        HWND owner = GetWindow(dialog, GW_OWNER);
        if (owner) {
            const LONG style = GetWindowLongA(owner, GWL_STYLE);
            if (!(style & WS_VISIBLE) || (style & WS_MINIMIZE)) owner = nullptr;
        }
        if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
            area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        }
        if (!owner) {
            centre = area;
        } else if (!GetWindowRect(owner, &centre)) {
            return false;
        }
    }

    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    int left = (centre.left + centre.right) / 2 - width / 2;
    int top = (centre.top + centre.bottom) / 2 - height / 2;
    if (left < area.left) {
        left = area.left;
    } else if (left + width > area.right) {
        left = area.right - width;
    }
    if (top < area.top) {
        top = area.top;
    } else if (top + height > area.bottom) {
        top = area.bottom - height;
    }
    return SetWindowPos(dialog, nullptr, left, top, 0, 0,
                        SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

}  // namespace korvane
