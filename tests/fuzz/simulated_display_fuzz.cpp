// libFuzzer target: GX.dll's reading of GX_SIMULATED_DISPLAY agrees with a reference reading of the
// same grammar (seven comma-separated words, each -?(0x hex | decimal) within 32 bits), and a
// refusal points inside the text.
#include "gx_properties.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace
{

void Require(bool condition)
{
    if (!condition)
    {
        std::abort();
    }
}

std::optional<std::uint32_t> ReferenceWord(const std::wstring &word)
{
    static const std::wregex kWord(L"(-?)(?:0[xX]([0-9a-fA-F]+)|([0-9]+))");
    std::wsmatch match;
    if (!std::regex_match(word, match, kWord))
    {
        return std::nullopt;
    }
    const bool hex = match[2].matched;
    std::wstring digits = hex ? match[2].str() : match[3].str();
    digits.erase(0, std::min(digits.find_first_not_of(L'0'), digits.size() - 1));
    if (digits.size() > 10)
    {
        return std::nullopt; // more than 32 bits in either base
    }
    const std::uint64_t magnitude = std::stoull(digits, nullptr, hex ? 16 : 10);
    const bool negative = match[1].length() == 1;
    if (magnitude > (negative ? 0x80000000U : 0xFFFFFFFFU))
    {
        return std::nullopt;
    }
    const auto low = static_cast<std::uint32_t>(magnitude);
    return negative ? 0U - low : low;
}

std::optional<std::vector<std::uint32_t>> ReferenceReading(const std::wstring &text)
{
    std::vector<std::uint32_t> words;
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t comma = text.find(L',', start);
        const auto word = ReferenceWord(text.substr(start, comma - start));
        if (!word)
        {
            return std::nullopt;
        }
        words.push_back(*word);
        if (comma == std::wstring::npos)
        {
            break;
        }
        start = comma + 1;
    }
    return words.size() == 7 ? std::optional(words) : std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::wstring text;
    for (std::size_t i = 0; i < size && data[i] != 0; ++i)
    {
        text.push_back(static_cast<wchar_t>(data[i]));
    }

    SimulatedDisplay display = {};
    const SimulationReading reading = ParseSimulatedDisplay(text.c_str(), display);
    const auto expected = ReferenceReading(text);

    Require((reading.fault == SimulationFault::None) == expected.has_value());
    if (!expected)
    {
        Require(reading.position <= text.size());
        return 0;
    }
    Require(reading.position == text.size());
    const GXDisplayProperties &p = display.properties;
    const std::vector<std::uint32_t> read = {
        p.cxWidth,
        p.cyHeight,
        static_cast<std::uint32_t>(p.cbxPitch),
        static_cast<std::uint32_t>(p.cbyPitch),
        static_cast<std::uint32_t>(p.cBPP),
        p.ffFormat,
        static_cast<std::uint32_t>(display.isDRAMBuffer),
    };
    Require(read == *expected);
    return 0;
}
