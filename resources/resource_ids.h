// Resource and control identifiers, shared by korvane.rc and the code that
// drives the dialogs. Plain #defines only: the resource compiler reads it too.
#pragma once

// Controls the code never addresses.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Icon groups, in this resource order: a shell icon index counts them from 0.
#define IDI_KORVANE 101
#define IDI_NEUTRAL 102
#define IDI_LOCK 103
#define IDI_UNLOCK 104

// Dialog templates and the menu.
#define IDD_ABOUT 120
#define IDD_LOCK 130
#define IDD_PROGRESS 204
#define IDD_SETTINGS 206
#define IDR_LOCK_MENU 207
#define IDD_PAGE_ENCRYPTION 208
#define IDD_PAGE_DECRYPTION 209
#define IDD_PAGE_COMPRESSION 210
#define IDD_PAGE_STARTUP 212

// Lock dialog 130.
#define IDC_START 1000
#define IDC_DECRYPT_PASSWORD 1008
#define IDC_CONFIRM_PASSWORD 1009
#define IDC_HEADING 1015
#define IDC_INSTRUCTION 1016
#define IDC_DECRYPT_PASSWORD_LABEL 1025
#define IDC_CONFIRM_PASSWORD_LABEL 1026
#define IDC_PASSWORD_LABEL 1027
#define IDC_PASSWORD 1028
#define IDC_DROP_SUMMARY 1040
#define IDC_OUTPUT_LINE 1041
#define IDC_PASSWORD_NOTE 1042
#define IDC_SHOW_PASSWORD 1043

// Progress dialog 204: the bar, the current file, bytes done of the total,
// the speed and the time left.
#define IDC_PROGRESS_BAR 1004
#define IDC_PROGRESS_FILE 1101
#define IDC_PROGRESS_BYTES 1102
#define IDC_PROGRESS_SPEED 1103
#define IDC_PROGRESS_TIME 1104

// Settings dialog 206 and its pages. The pages reuse numbers: each page is a
// dialog of its own.
#define IDC_SETTINGS_TABS 1010
#define IDC_FOLDER_EDIT 1007
#define IDC_DEST_DESKTOP 1017
#define IDC_DEST_SOURCE 1018
#define IDC_DEST_SELECT 1019
#define IDC_ADD_DATE 1020
#define IDC_BROWSE 1022
#define IDC_DEST_FOLDER 1023
#define IDC_NAME_SAME 1024
#define IDC_NAME_SELECT 1026
#define IDC_COMPRESSION_TRACKBAR 1027
#define IDC_COMPRESSION_LEVEL 1105
#define IDC_LOCK_SHORTCUT 1020
#define IDC_UNLOCK_SHORTCUT 1021
#define IDC_CONTEXT_MENU 1024

// About box 120: the zlib line, whose version is filled in at run time, and
// the product and version line.
#define IDC_ZLIB_NOTICE 1030
#define IDC_VERSION_LINE 1031

// Menu 207 and the system-menu item; Help's About is the same command.
#define ID_FILE_ENCRYPTION 32772
#define ID_FILE_DECRYPTION 32773
#define ID_OPTION_SETTINGS 32774
#define ID_VERSION_INFORMATION 32775
#define ID_FILE_OPEN 32776
#define ID_FILE_OPEN_FOLDER 32777
#define ID_FILE_EXIT 32778
