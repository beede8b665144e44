// The two ways the handler reaches outside its process: starting korvane.exe
// and showing a message box. Tests put recorders here instead of starting a
// process or blocking on a window.
#pragma once

#include <windows.h>

struct KvnMenuHooks {
    // application is the full path of korvane.exe, command_line the whole
    // line as CreateProcessW receives it. Returns FALSE, with the last error
    // set, when the process did not start.
    BOOL (*launch)(void* context, const wchar_t* application, const wchar_t* command_line);
    void (*message)(void* context, HWND owner, const wchar_t* text);
    void* context;
};
