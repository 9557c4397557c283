// The PC's display as our desktop GX.dll reports and claims it: the record of the screen, and the
// claim that gives one process the display. Plain functions with no Win32 calls, so that they also
// build natively for unit tests.
#pragma once

#include <windows.h>

#include "gx.h"

// The named mutex whose owner has the display; the system releases it when its owner exits.
constexpr const wchar_t *kDisplayClaimName = L"GX.dll display claim";

// The kf* pixel format bits of a screen of that depth, given the red, green and blue masks of its
// bitmap format whatever the depth: only at 16 bits per pixel do they count, the green one telling
// 5-6-5 (0x07E0) from 5-5-5; zeros, for a screen that gives no masks, are 5-5-5.
DWORD PixelFormatFlags(int bitsPerPixel, const DWORD (&colorMasks)[3]);

// The record of a screen, given its size, depth and kf* pixel format bits.
GXDisplayProperties ScreenProperties(int width, int height, int bitsPerPixel, DWORD pixelFormat);
