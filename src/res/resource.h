// Every resource and control id of the program.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// Icons.
#define IDI_PROGRAM 100
#define IDI_TRAY_RUNNING 101
#define IDI_TRAY_STOPPED 102

// Settings dialog and its controls.
#define IDD_SETTING 200
#define IDC_TIMER 1000
#define IDC_TIMER_SPIN 1001
#define IDC_RESOLUTION 1002
#define IDC_RESOLUTION_SPIN 1003
#define IDC_BALLOON 1004
#define IDC_BASE 1010
#define IDC_BASE_SPIN 1011
#define IDC_BOOST 1012
#define IDC_BOOST_SPIN 1013
#define IDC_PSTATE_LIST 1020
#define IDC_PSTATE 1021
#define IDC_PSTATE_SPIN 1022
#define IDC_DEVICE_LIST 1100
#define IDC_ENABLE 1101
#define IDC_DISPLAY 1102
#define IDC_DISPLAY_SPIN 1103
#define IDC_GPU 1104
#define IDC_GPU_SPIN 1105
#define IDC_ATTRIBUTE_LIST 1106
#define IDC_PLAYTYPE_LIST 1107
#define IDC_LUMINANCE 1108
#define IDC_LUMINANCE_SPIN 1109
#define IDC_PATTERN_BROWSE 1110
#define IDC_PLAYFILE 1111
#define IDC_COLOR 1112
#define IDC_PREVIEW 1120
#define IDC_SEARCH 1300
#define IDC_APPLY 4

// Tray menu commands.
#define IDM_RESUME 0x8010
#define IDM_SUSPEND 0x8011
#define IDM_ALL_ON 0x8012
#define IDM_ALL_OFF 0x8013
#define IDM_PLAYTYPE 0x8100
#define IDM_SAVE 0x8200
#define IDM_SETTING 0x8201
#define IDM_VERSION 0x8210
#define IDM_EXIT 0x8211
