// Identifiers of the Windows program's resources (update.rc) and of the
// system-menu command it adds. Included by the resource script and by C++.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDB_BACKGROUND 131

// System-menu command of the About entry. The system keeps the low four bits
// of a system command for itself, so commands are compared masked: 0x0010 to
// 0x001F all mean this one.
#define IDM_ABOUTBOX 0x0010
// The system-menu command that picks the file "更新" writes.
#define IDM_CHOOSEFILE 0x0020

#define IDC_PICTURE 1000
#define IDC_PROGRESS1 1001
#define IDC_UPDATE 1002
#define IDC_STATUS 1003
#define IDC_PROGRESS_LINE 1004
#define IDC_DEVICE_NOTE 1005

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
