// The few Windows CE declarations the program uses, for the device images built with GCC for ARM.
// The types are the SDK's, so that the GX functions get the symbols gx.def maps (DWORD is unsigned
// long, HWND a HWND__ *), and wchar_t is CE's 16-bit WCHAR under -fshort-wchar.
#pragma once

static_assert(sizeof(wchar_t) == 2, "the device build needs -fshort-wchar");

using DWORD = unsigned long;
using LONG = long;
using UINT = unsigned int;
using WCHAR = wchar_t;
using LPWSTR = WCHAR *;
using LPCWSTR = const WCHAR *;

struct HWND__;
using HWND = HWND__ *;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__ *;

// Windows CE on ARM has one calling convention.
#define WINAPI
#define WINAPIV

#define TEXT(quote) L##quote

#define MB_OK 0x00000000U

// COREDLL's functions, and the entry point CE calls, have C linkage.
extern "C"
{

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType);

int WINAPIV wsprintfW(LPWSTR lpOut, LPCWSTR lpFmt, ...);

// CE starts an exe here, with no C runtime between, and makes the result its exit code.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);

} // extern "C"
