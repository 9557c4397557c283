// Where our desktop GX.dll's record comes from: the screen's geometry, or the simulated display a
// user describes in GX_SIMULATED_DISPLAY. Plain functions with no Win32 calls, so that they also
// build natively for unit tests and fuzzing.
#pragma once

#include <windows.h>

#include "gx.h"

#include <cstddef>

// The variable that describes a simulated display.
constexpr const wchar_t *kSimulationVariable = L"GX_SIMULATED_DISPLAY";
// The named mutex whose owner has the display; the system releases it when its owner exits.
constexpr const wchar_t *kDisplayClaimName = L"GX.dll display claim";

struct SimulatedDisplay
{
    GXDisplayProperties properties;
    int isDRAMBuffer;
};

enum class SimulationFault
{
    None,
    ExpectedDigit,
    ExpectedComma, // after the first six words
    ExpectedEnd,   // after the seventh word
    OutOfRange,    // beyond a signed or unsigned 32-bit word
};

struct SimulationReading
{
    SimulationFault fault;
    std::size_t position; // of the first character that does not fit, counted from 0
};

// Reads "width,height,xpitch,ypitch,bpp,format,dram": the record's six words in its order, then the
// DRAM-buffer flag. Each word is decimal or 0x hexadecimal, optionally negative, within 32 bits.
// Fills display only when the whole text is read.
SimulationReading ParseSimulatedDisplay(const wchar_t *text, SimulatedDisplay &display);

// The reason GX.dll gives for refusing a malformed simulation, one line such as
// `GX.dll: GX_SIMULATED_DISPLAY="240,320" is malformed at its end: a comma was expected\n`.
// Writes at most `capacity` characters, terminator included: a long value is cut, never overrun.
void DescribeMalformedSimulation(const wchar_t *text, SimulationReading reading, wchar_t *line,
                                 std::size_t capacity);

// The kf* pixel format bits of a screen of that depth, given the red, green and blue masks of its
// bitmap format whatever the depth: only at 16 bits per pixel do they count, the green one telling
// 5-6-5 (0x07E0) from 5-5-5; zeros, for a screen that gives no masks, are 5-5-5.
DWORD PixelFormatFlags(int bitsPerPixel, const DWORD (&colorMasks)[3]);

// The record of a screen, given its size, depth and kf* pixel format bits.
GXDisplayProperties ScreenProperties(int width, int height, int bitsPerPixel, DWORD pixelFormat);
