// GX_SIMULATED_DISPLAY, the handheld display a user describes for our GX.dll and the CE stand-in's to
// report: its grammar, and the reason either gives for refusing a value. Plain functions with no
// Win32 calls, so that they also build natively for unit tests and fuzzing.
#pragma once

#include <windows.h>

#include "gx.h"

#include <cstddef>

// The variable that describes a simulated display.
constexpr const wchar_t *kSimulationVariable = L"GX_SIMULATED_DISPLAY";
// A reason line's characters, terminator included: wvsprintfW's own limit, so no line overruns it.
constexpr std::size_t kReasonCapacity = 1024;

struct SimulatedDisplay
{
    GXDisplayProperties properties;
    int isDRAMBuffer;
};

// A handheld's display as a public source reports it, previewed by its name: the rows of
// device_profiles.inc, which the build makes from device_profiles.txt.
struct DeviceProfile
{
    const char *name;
    SimulatedDisplay display;
};

enum class SimulationFault
{
    None,
    ExpectedDigit,
    ExpectedComma,  // after the first six words
    ExpectedEnd,    // after the seventh word
    OutOfRange,     // beyond a signed or unsigned 32-bit word
    UnknownProfile, // a name that no profile has
};

struct SimulationReading
{
    SimulationFault fault;
    std::size_t position; // of the first character that does not fit, counted from 0; 0 for a name
};

// Reads "width,height,xpitch,ypitch,bpp,format,dram": the record's six words in its order, then the
// DRAM-buffer flag. Each word is decimal or 0x hexadecimal, optionally negative, within 32 bits. Or,
// starting with a letter, a profile's name, such as "ipaq-h3600". Fills display only when the whole
// text is read.
SimulationReading ParseSimulatedDisplay(const wchar_t *text, SimulatedDisplay &display);

// The reason GX.dll gives for refusing a malformed simulation, one line such as
// `GX.dll: GX_SIMULATED_DISPLAY="240,320" is malformed at its end: a comma was expected\n`.
// Writes at most `capacity` characters, terminator included: a long value is cut, never overrun.
void DescribeMalformedSimulation(const wchar_t *text, SimulationReading reading, wchar_t *line,
                                 std::size_t capacity);
