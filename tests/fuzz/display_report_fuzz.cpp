// libFuzzer target: any properties record and any DRAM-buffer flag give a well-formed report that
// reads back to the record's numbers.
#include "display_report.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

void Require(bool condition)
{
    if (!condition)
    {
        std::abort();
    }
}

// The number between the line's tabs and its unit, e.g. "XPitch:\t\t-640 byte" gives -640.
std::int32_t NumberIn(const std::u16string &line)
{
    const std::size_t start = line.find_last_of(u'\t') + 1;
    const std::size_t end = line.find(u' ', start);
    Require(start != 0 && end != std::u16string::npos);
    const std::string digits(line.begin() + static_cast<std::ptrdiff_t>(start),
                             line.begin() + static_cast<std::ptrdiff_t>(end));
    std::int32_t value = 0;
    const auto [rest, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    Require(error == std::errc() && rest == digits.data() + digits.size());
    Require(std::to_string(value) == digits); // no padding, no plus sign, no leading zeros
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    GXDisplayProperties properties = {};
    std::int32_t isDRAMBuffer = 0;
    std::memcpy(&properties, data, std::min(size, sizeof properties));
    if (size > sizeof properties)
    {
        std::memcpy(&isDRAMBuffer, data + sizeof properties,
                    std::min(size - sizeof properties, sizeof isDRAMBuffer));
    }

    WCHAR report[REPORT_BUFFER_LENGTH];
    std::fill(std::begin(report), std::end(report), u'\xFFFF');
    FormatDisplayReport(report, properties, isDRAMBuffer);

    const WCHAR *terminator = std::find(std::begin(report), std::end(report), u'\0');
    Require(terminator != std::end(report) && terminator - report <= 178);
    const std::u16string text(report, static_cast<std::size_t>(terminator - report));

    Require(std::count(text.begin(), text.end(), u'\n') == 7);
    std::u16string lines[8];
    std::size_t start = 0;
    for (std::u16string &line : lines)
    {
        const std::size_t end = std::min(text.find(u'\n', start), text.size());
        line = text.substr(start, end - start);
        start = end + 1;
    }

    Require(NumberIn(lines[2]) == static_cast<std::int32_t>(properties.cxWidth));
    Require(NumberIn(lines[3]) == static_cast<std::int32_t>(properties.cyHeight));
    Require(NumberIn(lines[4]) == properties.cBPP);
    Require(NumberIn(lines[5]) == properties.cbxPitch);
    Require(NumberIn(lines[6]) == properties.cbyPitch);
    Require(lines[7] == (isDRAMBuffer == 0 ? u"Direct Access:\tyes" : u"Direct Access:\tno"));
    return 0;
}
