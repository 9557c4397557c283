// Linux stand-in for <tchar.h>: the program is always built for Unicode.
#pragma once

#include <windows.h>

using TCHAR = WCHAR;
using LPTSTR = LPWSTR;
using LPCTSTR = LPCWSTR;

#define _tWinMain wWinMain
