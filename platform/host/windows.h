// Linux stand-in for the few Win32 declarations the program uses, so that the same sources build
// natively for unit tests, sanitizers and fuzzing. Integer types keep their Windows sizes.
#pragma once

#include <cstdint>

using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using WCHAR = char16_t; // UTF-16 code unit, as on Windows
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;

struct HWND__;
using HWND = HWND__ *;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__ *;

// Calling conventions only matter on 32-bit x86.
#define WINAPI
#define WINAPIV

// The program is Unicode only: TEXT() literals are UTF-16.
#define TEXT(quote) u##quote

#define MB_OK 0x00000000U

// The system library's functions have C linkage, as in the Windows headers.
extern "C"
{

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

// Like Windows: %d, %s (wide string) and %%; writes at most 1024 characters including the
// terminating NUL and returns the number written before it.
int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...);

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

} // extern "C"
