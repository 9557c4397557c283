// The baseline for the launch benchmark: a Win32 program that only shows a message box.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                    int /*nShowCmd*/)
{
    return MessageBoxW(nullptr, L"minimal", L"minimal", MB_OK) == IDOK ? 1 : 0;
}
