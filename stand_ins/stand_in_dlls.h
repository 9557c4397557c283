// What the CE stand-in gives an image in place of the device's DLLs: COREDLL's message box and
// formatter, GX.dll's four functions.
#pragma once

#include <windows.h>

#include "gx.h"
#include "simulated_display.h"

#include <cstdint>
#include <string>
#include <vector>

// A classic Pocket PC: 240x320, 16 bits per pixel in 5-6-5, written directly, not a DRAM buffer.
constexpr SimulatedDisplay kHandheld = {{240, 320, 2, 480, 16, kfDirect | kfDirect565}, 0};

// The device the image runs on: the screen GX.dll gives an aware image, and whether this image is
// shown the 240x320 emulation instead. Until set, a classic handheld's.
void SetDevice(const SimulatedDisplay &screen, bool isEmulated);

// The address of what DLL exports by ordinal (name null) or by name; refused if the stand-in lacks it.
std::uintptr_t Exported(const char *dll, std::uint32_t ordinal, const char *name);

// The lines GX.dll wrote for a debugger, in order.
const std::vector<std::string> &DebugLines();
