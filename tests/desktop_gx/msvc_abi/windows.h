// The few Win32 declarations that gx.h and the Microsoft-ABI caller use, with the types the Windows
// SDK gives them: a Microsoft compiler mangles GX.dll's names from these exact types.
#pragma once

using DWORD = unsigned long;
using LONG = long;
using UINT = unsigned int;
using BOOL = int;
using HANDLE = void *;
using WCHAR = wchar_t;
using LPCWSTR = const WCHAR *;
using LPSTR = char *;
using LPCSTR = const char *;

struct HWND__
{
    int unused;
};
using HWND = HWND__ *;

#define WINAPI __stdcall
#define WINAPIV __cdecl
#define STD_OUTPUT_HANDLE ((DWORD)-11)

extern "C"
{
__declspec(dllimport) HANDLE WINAPI GetStdHandle(DWORD nStdHandle);
__declspec(dllimport) BOOL WINAPI WriteFile(HANDLE hFile, const void *lpBuffer, DWORD nNumberOfBytesToWrite,
                                            DWORD *lpNumberOfBytesWritten, void *lpOverlapped);
__declspec(dllimport) BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(UINT uExitCode);
__declspec(dllimport) int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...);
}
