// The dialog framework. Every window of ours is a dialog built from a
// resource template and served by one object, whose message map sees every
// message of the window from the first one sent during its creation.
//
// Binding: the code that shows a dialog registers the object in a per-thread
// creation list immediately before the platform call that creates the window;
// start_dialog_procedure, the dialog procedure of every such window, takes
// the thread's newest record on the window's first message of any kind and
// keeps the object in the window's DWLP_USER slot from then on.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

namespace korvane {

class DialogBase;

// The private messages: the settings dialog asks each page to store its
// controls' values, and before that whether a value cannot be stored (a page
// that answers 1 has told the user why).
inline constexpr UINT wm_page_apply = WM_USER + 1;
inline constexpr UINT wm_page_refuses = WM_USER + 2;

struct CreationRecord {
    DialogBase* object;
    DWORD thread_id;
    CreationRecord* next;
};

using InstanceProcedure = INT_PTR (*)(DialogBase* object, UINT message, WPARAM wparam,
                                      LPARAM lparam);

// Base of every dialog object. The object must outlive its window; it lives
// on the stack of the code that shows it, or inside the object of the dialog
// that owns it.
class DialogBase {
  public:
    DialogBase() = default;
    virtual ~DialogBase();
    DialogBase(const DialogBase&) = delete;
    DialogBase& operator=(const DialogBase&) = delete;

    // Null until the window is bound and again once it is gone.
    HWND window() const { return window_; }
    // The message being handled (time and point zero), or null outside a handler.
    const MSG* current_message() const { return current_message_; }
    CreationRecord& creation_record() { return record_; }

    // The message map: true when a handler took the message, its value in result.
    virtual bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                LRESULT& result) = 0;
    virtual InstanceProcedure get_instance_procedure();
    // Called once the window is gone, with the handle it had.
    virtual void window_released(HWND window);

    // The DPI the window and its controls are laid out for: the window's own
    // when it was bound, then each one WM_DPICHANGED brought.
    int dpi() const { return dpi_; }

  protected:
    void clear_window() { window_ = nullptr; }
    // After a top-level window and every control in it were scaled to a new
    // DPI, for a dialog whose layout depends on more than its template.
    virtual void dpi_changed() {}

  private:
    friend INT_PTR CALLBACK start_dialog_procedure(HWND, UINT, WPARAM, LPARAM);
    friend INT_PTR instance_procedure(DialogBase*, UINT, WPARAM, LPARAM);

    // Takes the suggested rectangle and scales every control's place, size
    // and font from dpi_ to the new DPI.
    void scale_to_dpi(int new_dpi, const RECT& suggested);

    // A font this window's controls were given for its DPI, and the font
    // and DPI it was scaled from, so that scaling again starts from there.
    struct ScaledFont {
        HFONT font;
        LOGFONTW base;
        int base_dpi;
    };
    void release_fonts(std::vector<ScaledFont>& fonts);

    HWND window_ = nullptr;
    CreationRecord record_{};
    InstanceProcedure procedure_ = nullptr;  // set when the window is bound
    const MSG* current_message_ = nullptr;
    int dpi_ = 96;
    std::vector<ScaledFont> fonts_;  // owned: deleted once no control uses them
};

// The DPI of the window's monitor where the system knows it, else the
// system's.
int window_dpi(HWND window);

// The shell's registered "TaskbarButtonCreated" message; 0 when it cannot be
// registered.
UINT taskbar_button_created_message();
// Whether the shell has told the window that its taskbar button exists (it
// tells again after the taskbar restarts); until then the button cannot be
// drawn on.
bool has_taskbar_button(HWND window);

// Module state: the instance every template, icon and menu is loaded from,
// the creation list and its critical section. module_init comes before the
// first window, module_shutdown after the last dialog has returned.
bool module_init(HINSTANCE instance);
// After a successful module_init: records the calling thread as the main
// thread and creates the (empty) per-thread table.
void module_attach_main_thread();
// Releases the window list (destroying its first window) and the per-thread
// table, then calls module_term.
void module_shutdown();
void module_term();
HINSTANCE module_instance();
DWORD module_main_thread();

// Pushes the record at the head of the creation list for the calling thread.
// Call on the creating thread immediately before the platform call that
// creates the window. False when the module is not initialised.
bool register_creation(CreationRecord& record, DialogBase& object);
// Removes the record if no window took it (the creation failed before its
// first message), so the list never points into an object that is gone.
void withdraw_creation(CreationRecord& record);
// Records waiting for their window, of every thread.
std::size_t pending_creations();

INT_PTR CALLBACK start_dialog_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Runs the object's map for one message and turns its answer into what the
// dialog manager expects: the value itself for the messages that return one
// directly, otherwise 1 with the value in DWLP_MSGRESULT.
INT_PTR instance_procedure(DialogBase* object, UINT message, WPARAM wparam, LPARAM lparam);

// Dialogs are Unicode windows, and so are the controls their templates make:
// a typed character outside the ANSI code page reaches the program intact.
// A modal run: the value a handler passed to EndDialog, or -1 when the
// dialog could not be created.
INT_PTR run_modal(DialogBase& dialog, int resource_id, HWND owner, LPARAM init_parameter);
// A modeless child (the settings pages); null when it could not be created.
HWND create_modeless(DialogBase& dialog, int resource_id, HWND parent, LPARAM init_parameter);

// The same for a dialog class that names its template: `static constexpr int
// idd = IDD_...;`.
template <class Dialog>
INT_PTR run_modal(Dialog& dialog, HWND owner, LPARAM init_parameter = 0) {
    return run_modal(dialog, Dialog::idd, owner, init_parameter);
}
template <class Dialog>
HWND create_modeless(Dialog& dialog, HWND parent, LPARAM init_parameter = 0) {
    return create_modeless(dialog, Dialog::idd, parent, init_parameter);
}

// Centres a child dialog in its parent's client area, any other dialog on its
// visible, non-minimised owner or else on the work area, and keeps it inside
// that area. False when a rectangle cannot be read; the dialog then stays.
bool center_window(HWND dialog);

}  // namespace korvane
