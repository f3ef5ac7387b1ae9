// Resource, control and command ids of the settings program, shared by its code and its
// resource script.
#pragma once

#define IDS_TITLE 1
#define IDS_CLASS 2
#define IDS_VERSION 3
#define IDS_MAKER 4
#define IDS_NOTICE 5

#define IDM_MENUBAR 102
#define IDD_SETTINGS 102
#define IDD_ABOUT 105
#define IDI_CORVANE 129
#define IDB_LOGO 131

// Settings dialog.
#define IDC_HEADING_MARK 1002
#define IDC_GESTURE_SWITCH 1000
#define IDC_SOUND_SWITCH 1001
#define IDC_GESTURE_TEXT 40004
#define IDC_SOUND_TEXT 1003

// About box.
#define IDC_PRODUCT 202
#define IDC_NOTICE 203
#define IDC_MAKER 1004
#define IDC_LOGO 5123
#define IDC_VERSION_LABEL 204
#define IDC_VERSION 205

// Commands.
#define IDM_EXIT 40000
#define IDM_ABOUT 40002
#define IDM_QUIT_UNSAVED 32772
