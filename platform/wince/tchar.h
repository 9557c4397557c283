// Windows CE's <tchar.h> for the program: it is always built for Unicode, and CE's wide entry point
// is WinMain.
#pragma once

#include <windows.h>

using LPTSTR = LPWSTR;

#define _tWinMain WinMain
