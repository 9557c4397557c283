#include "fake_platform.h"

FakePlatform g_fake;

int GXOpenDisplay(HWND hWnd, DWORD dwFlags)
{
    g_fake.calls.emplace_back("open");
    g_fake.openWindow = hWnd;
    g_fake.openFlags = dwFlags;
    return g_fake.openResult;
}

GXDisplayProperties GXGetDisplayProperties()
{
    g_fake.calls.emplace_back("properties");
    return g_fake.properties;
}

int GXIsDisplayDRAMBuffer()
{
    g_fake.calls.emplace_back("dram");
    return g_fake.dramBufferResult;
}

int GXCloseDisplay()
{
    g_fake.calls.emplace_back("close");
    return g_fake.closeResult;
}

int WINAPI MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    g_fake.calls.emplace_back("box");
    MessageBoxCall box;
    box.owner = hWnd;
    box.text = lpText;
    box.hasCaption = lpCaption != nullptr;
    box.caption = lpCaption != nullptr ? lpCaption : u"";
    box.style = uType;
    g_fake.boxes.push_back(box);
    return 1; // IDOK
}
