// Where the controls of the main dialog and the About box sit, in dialog
// units (x, y, width, height): the resource script (update.rc) lays out
// Update.exe's dialogs with them, and the Qt program places its widgets at
// the same numbers (ui/qt/dialog_units.h), so that both look alike. Only
// #defines: the resource compiler reads this file too.
#pragma once

// The main dialog: the original layout, one line taller for the progress line.
#define LAYOUT_UPDATE_DIALOG 348, 228  // width, height
#define LAYOUT_CANCEL 250, 191, 76, 23
#define LAYOUT_PICTURE 16, 12, 314, 125
#define LAYOUT_PROGRESS 7, 144, 334, 13
#define LAYOUT_UPDATE 26, 191, 75, 22
#define LAYOUT_STATUS 7, 162, 334, 11
#define LAYOUT_PROGRESS_LINE 7, 175, 334, 11

// The About box.
#define LAYOUT_ABOUT_DIALOG 235, 55  // width, height
#define LAYOUT_ABOUT_ICON 11, 17, 20, 20
#define LAYOUT_ABOUT_VERSION 40, 10, 119, 8
#define LAYOUT_ABOUT_PURPOSE 40, 25, 119, 8
#define LAYOUT_ABOUT_LICENCE 40, 38, 119, 8
#define LAYOUT_ABOUT_OK 178, 7, 50, 14
