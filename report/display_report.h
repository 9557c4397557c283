// The display report: the text the diagnostics run shows in its report box.
#pragma once

#include <windows.h>

#include "gx.h"

// Wide characters in the report buffer, terminator included. The longest report is 178.
constexpr int REPORT_BUFFER_LENGTH = 1024;

// Writes the NUL-terminated report of the display's properties and of whether the display is a
// DRAM buffer (any nonzero isDRAMBuffer) into report.
void FormatDisplayReport(WCHAR (&report)[REPORT_BUFFER_LENGTH], const GXDisplayProperties &properties,
                         int isDRAMBuffer);
