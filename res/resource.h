// Resource and control identifiers shared by quillon.rc and the program.
#pragma once

#define IDD_QUILLON_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BACKGROUND 129
#define IDC_CURSOR_DRAG 130
#define IDC_CURSOR_HOVER 131
#define IDB_STRIP_ABOUT 134
#define IDB_STRIP_RETRIEVE 135
#define IDC_CURSOR_PRESSED 136
#define IDB_STRIP_ADJUST 138
#define IDB_STRIP_CANCEL 139

#define IDC_RETRIEVE 1000
#define IDC_LOG 1001
#define IDC_ADJUST 1003
#define IDC_SERVER 1004
#define IDC_ABOUT 1005
#define IDC_BACKGROUND 1006
