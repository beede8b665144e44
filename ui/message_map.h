// Message maps as tables: each entry binds one message, command id (with or
// without its notification code), command range or notification to one
// member handler of the dialog class.
//
//   static constexpr MessageEntry<LockDialog> map[] = {
//       on_message(WM_INITDIALOG, &LockDialog::on_init_dialog),
//       on_command(IDC_START, &LockDialog::on_start),
//       on_command(IDC_PASSWORD, EN_CHANGE, &LockDialog::on_password_changed),
//   };
//   return dispatch_message_map(*this, map, message, wparam, lparam, result);
//
// Command and notification handlers get their arguments cracked; every
// handler gets a "handled" flag that is true on entry. Clearing it lets later
// entries, and then the dialog manager's default processing, see the message.
#pragma once

#include <windows.h>

#include <cstddef>

namespace korvane {

template <class Dialog>
using MessageHandler = LRESULT (Dialog::*)(WPARAM wparam, LPARAM lparam, bool& handled);

// WM_COMMAND: the notification code, the command or control id, and the
// control (null for a menu item or an accelerator).
template <class Dialog>
using CommandHandler = LRESULT (Dialog::*)(UINT code, UINT id, HWND control, bool& handled);

// WM_NOTIFY: the header every notification starts with.
template <class Dialog>
using NotifyHandler = LRESULT (Dialog::*)(const NMHDR& header, bool& handled);

// Command codes are 16 bits: this matches any of them.
inline constexpr UINT any_command_code = 0x10000;

template <class Dialog>
struct MessageEntry {
    enum class Kind { message, command, command_range, notify };

    Kind kind;
    UINT message;
    UINT first_id;  // command id or control id; first of a range
    UINT last_id;   // last of a range
    UINT code;      // notification code, or any_command_code
    MessageHandler<Dialog> message_handler = nullptr;
    CommandHandler<Dialog> command_handler = nullptr;
    NotifyHandler<Dialog> notify_handler = nullptr;

    bool matches(UINT msg, WPARAM wparam, LPARAM lparam) const {
        switch (kind) {
            case Kind::message:
                return msg == message;
            case Kind::command:
                return msg == WM_COMMAND && LOWORD(wparam) == first_id &&
                       (code == any_command_code || HIWORD(wparam) == code);
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

    LRESULT call(Dialog& dialog, WPARAM wparam, LPARAM lparam, bool& handled) const {
        switch (kind) {
            case Kind::message:
                return (dialog.*message_handler)(wparam, lparam, handled);
            case Kind::command:
            case Kind::command_range:
                return (dialog.*command_handler)(HIWORD(wparam), LOWORD(wparam),
                                                 reinterpret_cast<HWND>(lparam), handled);
            case Kind::notify:
                return (dialog.*notify_handler)(*reinterpret_cast<const NMHDR*>(lparam), handled);
        }
        return 0;
    }
};

template <class Dialog>
constexpr MessageEntry<Dialog> on_message(UINT message, MessageHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::message, message, 0, 0, 0, handler};
}

// Any notification code of the command id.
template <class Dialog>
constexpr MessageEntry<Dialog> on_command(UINT id, CommandHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::command,
            WM_COMMAND,
            id,
            id,
            any_command_code,
            nullptr,
            handler};
}

// Only this notification code of the control.
template <class Dialog>
constexpr MessageEntry<Dialog> on_command(UINT id, UINT code, CommandHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::command, WM_COMMAND, id, id, code, nullptr, handler};
}

template <class Dialog>
constexpr MessageEntry<Dialog> on_command_range(UINT first, UINT last,
                                                CommandHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::command_range,
            WM_COMMAND,
            first,
            last,
            any_command_code,
            nullptr,
            handler};
}

template <class Dialog>
constexpr MessageEntry<Dialog> on_notify(UINT control_id, UINT code,
                                         NotifyHandler<Dialog> handler) {
    return {MessageEntry<Dialog>::Kind::notify,
            WM_NOTIFY,
            control_id,
            control_id,
            code,
            nullptr,
            nullptr,
            handler};
}

// Runs the matching entries in table order until one keeps its flag; returns
// whether a handler took the message, with its value in result.
template <class Dialog, std::size_t N>
bool dispatch_message_map(Dialog& dialog, const MessageEntry<Dialog> (&map)[N], UINT message,
                          WPARAM wparam, LPARAM lparam, LRESULT& result) {
    for (const MessageEntry<Dialog>& entry : map) {
        if (!entry.matches(message, wparam, lparam)) continue;
        bool handled = true;
        result = entry.call(dialog, wparam, lparam, handled);
        if (handled) return true;
    }
    return false;
}

}  // namespace korvane
