#include "display_report.h"

void FormatDisplayReport(WCHAR (&report)[REPORT_BUFFER_LENGTH], const GXDisplayProperties &properties,
                         int isDRAMBuffer)
{
    // A DRAM-buffer display is only reached through a copy in system memory: no direct access.
    LPCWSTR directAccess = isDRAMBuffer ? TEXT("no") : TEXT("yes");

    // Every number is a signed 32-bit value, whatever the record's field type.
    wsprintfW(report,
              TEXT("GAPI reports the following data:\n"
                   "\n"
                   "Width:\t\t%d pixel\n"
                   "Height:\t%d lines\n"
                   "BPP:\t\t%d bit\n"
                   "XPitch:\t\t%d byte\n"
                   "YPitch:\t\t%d byte\n"
                   "Direct Access:\t%s"),
              static_cast<int>(properties.cxWidth), static_cast<int>(properties.cyHeight),
              static_cast<int>(properties.cBPP), static_cast<int>(properties.cbxPitch),
              static_cast<int>(properties.cbyPitch), directAccess);
}
