#pragma once
// Numbers of the resources that the program names rather than numbers: the
// bitmaps of the main window's picture buttons and its icons. The language
// library serves them by these numbers like any other bitmap.

#include "platform/types.h"

inline constexpr UINT IDB_SMYIMAGEU = 6001;
inline constexpr UINT IDB_SMYIMAGED = 6002;
inline constexpr UINT IDB_SMYIMAGEF = 6003;
inline constexpr UINT IDB_SMYIMAGEX = 6004;
inline constexpr UINT IDB_BTN_ARMU = 6011;
inline constexpr UINT IDB_BTN_ARMD = 6012;
inline constexpr UINT IDB_BTN_ARM_DISABLED = 6013;
inline constexpr UINT IDB_BTN_DISARMU = 6014;
inline constexpr UINT IDB_BTN_AUDU = 6021;
inline constexpr UINT IDB_BTN_AUDD = 6022;
inline constexpr UINT IDB_BTN_AUDX = 6023;
inline constexpr UINT IDI_DEBRIEF = 6031;
// The remote camera window's hold picture and its small panel toggles.
inline constexpr UINT IDB_HOLD = 6041;
inline constexpr UINT IDB_SMALL_LESS = 6042;
inline constexpr UINT IDB_SMALL_LESS_DOWN = 6043;
inline constexpr UINT IDB_SMALL_MORE = 6044;
inline constexpr UINT IDB_SMALL_MORE_DOWN = 6045;
inline constexpr UINT IDB_SMALL_HOLDU = 6046;
inline constexpr UINT IDB_SMALL_HOLDD = 6047;
inline constexpr UINT IDB_SMALL_HOLDF = 6048;
inline constexpr UINT IDB_SMALL_HOLDX = 6049;
// The main window's icon and its toolbar strip (six buttons of 16 x 15).
inline constexpr UINT IDI_MAINFRAME = 128;
inline constexpr UINT IDR_VIDEO_TOOLBAR = 433;
