// A recording fake of the display library and the message box, linked into the run's tests in
// place of the real ones.
#pragma once

#include <windows.h>

#include "gx.h"

#include <string>
#include <vector>

struct MessageBoxCall
{
    HWND owner = nullptr;
    std::u16string text;
    bool hasCaption = false; // a null caption differs from an empty one
    std::u16string caption;
    UINT style = 0;
};

struct FakePlatform
{
    // What the display library answers.
    int openResult = 1;
    GXDisplayProperties properties{};
    int dramBufferResult = 0;
    int closeResult = 1;

    // What the program did: "open", "properties", "dram", "box" and "close", in call order.
    std::vector<std::string> calls;
    HWND openWindow = nullptr;
    DWORD openFlags = 0;
    std::vector<MessageBoxCall> boxes;
};

extern FakePlatform g_fake;
