#include "desktop_display.h"

DWORD PixelFormatFlags(int bitsPerPixel, const DWORD (&colorMasks)[3])
{
    if (bitsPerPixel <= 8)
    {
        return kfPalette;
    }
    if (bitsPerPixel > 16)
    {
        return kfDirect | kfDirect888;
    }
    return kfDirect | (colorMasks[1] == 0x07E0 ? kfDirect565 : kfDirect555);
}

GXDisplayProperties ScreenProperties(int width, int height, int bitsPerPixel, DWORD pixelFormat)
{
    GXDisplayProperties properties = {};
    properties.cxWidth = static_cast<DWORD>(width);
    properties.cyHeight = static_cast<DWORD>(height);
    properties.cbxPitch = bitsPerPixel / 8;
    // The stride of a full-screen device-independent bitmap: rows padded to 4 bytes.
    properties.cbyPitch = (width * bitsPerPixel + 31) / 32 * 4;
    properties.cBPP = bitsPerPixel;
    properties.ffFormat = pixelFormat | (width > height ? kfLandscape : 0U);
    return properties;
}
