// Message maps as tables: each entry binds one message, command id, command
// range or notification to one member handler of the dialog class.
//
//   static constexpr MessageEntry<ProgressDialog> map[] = {
//       on_message(WM_INITDIALOG, &ProgressDialog::on_init_dialog),
//       on_command(IDCANCEL, &ProgressDialog::on_cancel),
//   };
//   return dispatch_message_map(*this, map, message, wparam, lparam, result);
//
// A handler gets the message parameters and a "handled" flag that is true on
// entry; clearing it lets later entries, and then the dialog manager's default
// processing, see the message.
#pragma once

#include <windows.h>

#include <cstddef>

namespace korvane {

template <class Dialog>
using MessageHandler = LRESULT (Dialog::*)(WPARAM wparam, LPARAM lparam, bool& handled);

template <class Dialog>
struct MessageEntry {
    enum class Kind { message, command, command_range, notify };

    Kind kind;
    UINT message;
    UINT first_id;  // command id or control id; first of a range
    UINT last_id;   // last of a range
    UINT code;      // notification code
    MessageHandler<Dialog> handler;

    // A command matches the low 16 bits of wParam whatever its notification
    // code in the high 16 bits.
    bool matches(UINT msg, WPARAM wparam, LPARAM lparam) const {
        switch (kind) {
            case Kind::message:
                return msg == message;
            case Kind::command:
                return msg == WM_COMMAND && LOWORD(wparam) == first_id;
            case Kind::command_range:
                return msg == WM_COMMAND && LOWORD(wparam) >= first_id && LOWORD(wparam) <= last_id;
            case Kind::notify: {
                if (msg != WM_NOTIFY || lparam == 0) return false;
                const auto* header = reinterpret_cast<const NMHDR*>(lparam);
                return header->idFrom == first_id && header->code == code;
            }
        }
        return false;
    }
};

template <class Dialog>
constexpr MessageEntry<Dialog> on_message(UINT message, MessageHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::message, message, 0, 0, 0, handler};
}

template <class Dialog>
constexpr MessageEntry<Dialog> on_command(UINT id, MessageHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::command, WM_COMMAND, id, id, 0, handler};
}

template <class Dialog>
constexpr MessageEntry<Dialog> on_command_range(UINT first, UINT last,
                                                MessageHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::command_range, WM_COMMAND, first, last, 0, handler};
}

template <class Dialog>
constexpr MessageEntry<Dialog> on_notify(UINT control_id, UINT code,
                                         MessageHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::notify, WM_NOTIFY, control_id, control_id, code, handler};
}

// Runs the matching entries in table order until one keeps its flag; returns
// whether a handler took the message, with its value in result.
template <class Dialog, std::size_t N>
bool dispatch_message_map(Dialog& dialog, const MessageEntry<Dialog> (&map)[N], UINT message,
                          WPARAM wparam, LPARAM lparam, LRESULT& result) {
    for (const MessageEntry<Dialog>& entry : map) {
        if (!entry.matches(message, wparam, lparam)) continue;
        bool handled = true;
        result = (dialog.*entry.handler)(wparam, lparam, handled);
        if (handled) return true;
    }
    return false;
}

}  // namespace korvane
