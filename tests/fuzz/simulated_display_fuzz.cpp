// libFuzzer target: GX.dll's reading of GX_SIMULATED_DISPLAY agrees with a reference reading of the
// same grammar (seven comma-separated words, each -?(0x hex | decimal) within 32 bits), and a
// refusal points inside the text. The reference splits first and checks each word whole; it uses no
// std::regex, whose recursive matcher overflows the stack on a few thousand digits.
#include "simulated_display.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
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

// Only ASCII digits count: iswdigit and iswxdigit may take other scripts' digits too.
bool IsDecimal(wchar_t ch)
{
    return ch >= L'0' && ch <= L'9';
}

bool IsHex(wchar_t ch)
{
    return IsDecimal(ch) || (ch >= L'a' && ch <= L'f') || (ch >= L'A' && ch <= L'F');
}

std::optional<std::uint32_t> ReferenceWord(std::wstring word)
{
    const bool negative = word.starts_with(L'-');
    word.erase(0, negative ? 1 : 0);
    const bool hex = word.starts_with(L"0x") || word.starts_with(L"0X");
    std::wstring digits = word.substr(hex ? 2 : 0);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), hex ? IsHex : IsDecimal))
    {
        return std::nullopt;
    }
    digits.erase(0, std::min(digits.find_first_not_of(L'0'), digits.size() - 1));
    if (digits.size() > 10)
    {
        return std::nullopt; // more than 32 bits in either base
    }
    const std::uint64_t magnitude = std::stoull(digits, nullptr, hex ? 16 : 10);
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
    // A text starting with a letter names a profile: the unit tests hold names to the profile table.
    if (const wchar_t first = text.empty() ? 0 : text[0] | 0x20; first >= L'a' && first <= L'z')
    {
        Require(reading.position <= text.size());
        return 0;
    }

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
