// The subset of the game display library (GAPI, GX.dll) that programs here use.
// The library exports these functions with C++ linkage, so they are declared without extern "C".
#pragma once

#include <windows.h>

// GXOpenDisplay flags.
#define GX_FULLSCREEN 0x01

// GXDisplayProperties.ffFormat bits.
#define kfLandscape 0x8
#define kfPalette 0x10
#define kfDirect 0x20
#define kfDirect555 0x40
#define kfDirect565 0x80
#define kfDirect888 0x100

struct GXDisplayProperties
{
    DWORD cxWidth;  // pixels
    DWORD cyHeight; // lines
    LONG cbxPitch;  // bytes from one pixel to the next along a line
    LONG cbyPitch;  // bytes from one line to the next
    LONG cBPP;      // bits per pixel
    DWORD ffFormat; // kf* bits
};

// The library returns the record by value across the DLL boundary: its layout is the ABI.
static_assert(sizeof(GXDisplayProperties) == 24, "GXDisplayProperties is six 32-bit words");

int GXOpenDisplay(HWND hWnd, DWORD dwFlags);
GXDisplayProperties GXGetDisplayProperties();
int GXIsDisplayDRAMBuffer();
int GXCloseDisplay();
