#include "simulated_display.h"

#include <cstdint>

namespace
{

constexpr int kSimulationWords = 7;

constexpr DeviceProfile kProfiles[] = {
#include "device_profiles.inc"
};

struct WordReading
{
    SimulationFault fault;
    DWORD word;
};

int DigitValue(wchar_t ch, unsigned base)
{
    if (ch >= L'0' && ch <= L'9')
    {
        return ch - L'0';
    }
    if (base == 16 && ch >= L'a' && ch <= L'f')
    {
        return ch - L'a' + 10;
    }
    if (base == 16 && ch >= L'A' && ch <= L'F')
    {
        return ch - L'A' + 10;
    }
    return -1;
}

// One word, ended by `end`; leaves cursor on the first character that does not fit, or past `end`.
// An out-of-range word leaves it on the word's first character.
WordReading ReadWord(const wchar_t *&cursor, wchar_t end)
{
    const wchar_t *const start = cursor;
    const bool negative = *cursor == L'-';
    if (negative)
    {
        ++cursor;
    }
    unsigned base = 10;
    if (cursor[0] == L'0' && (cursor[1] == L'x' || cursor[1] == L'X'))
    {
        base = 16;
        cursor += 2;
    }
    const wchar_t *const digits = cursor;
    std::uint64_t magnitude = 0;
    for (int digit = DigitValue(*cursor, base); digit >= 0; digit = DigitValue(*++cursor, base))
    {
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        // Checked at every digit: a longer number would wrap the 64-bit magnitude.
        if (magnitude > 0xFFFFFFFFU)
        {
            cursor = start;
            return {SimulationFault::OutOfRange, 0};
        }
    }
    if (cursor == digits)
    {
        return {SimulationFault::ExpectedDigit, 0};
    }
    if (negative && magnitude > 0x80000000U)
    {
        cursor = start;
        return {SimulationFault::OutOfRange, 0};
    }
    if (*cursor != end)
    {
        return {end == 0 ? SimulationFault::ExpectedEnd : SimulationFault::ExpectedComma, 0};
    }
    if (end != 0)
    {
        ++cursor;
    }
    const auto low = static_cast<DWORD>(magnitude);
    return {SimulationFault::None, negative ? 0U - low : low};
}

const wchar_t *Expected(SimulationFault fault)
{
    switch (fault)
    {
    case SimulationFault::ExpectedDigit:
        return L"a digit was expected";
    case SimulationFault::ExpectedComma:
        return L"a comma was expected";
    case SimulationFault::ExpectedEnd:
        return L"the end was expected after the seventh word";
    case SimulationFault::OutOfRange:
        return L"the word does not fit in 32 bits";
    case SimulationFault::UnknownProfile:
        return L"no device profile is named so; the profiles are ";
    case SimulationFault::None:
        break;
    }
    return L"";
}

// Appends to a line of fixed capacity, dropping whatever does not fit.
class LineWriter
{
  public:
    LineWriter(wchar_t *line, std::size_t capacity) : next_(line), last_(line + capacity - 1) { *next_ = 0; }

    LineWriter &operator<<(const wchar_t *text)
    {
        while (*text != 0 && next_ != last_)
        {
            *next_++ = *text++;
        }
        *next_ = 0;
        return *this;
    }

    LineWriter &operator<<(const char *text) // ASCII
    {
        for (; *text != 0; ++text)
        {
            const wchar_t ch[2] = {static_cast<wchar_t>(*text), 0};
            *this << ch;
        }
        return *this;
    }

    LineWriter &operator<<(std::size_t number)
    {
        wchar_t digits[24];
        wchar_t *first = digits + sizeof digits / sizeof digits[0] - 1;
        *first = 0;
        do
        {
            *--first = static_cast<wchar_t>(L'0' + number % 10);
            number /= 10;
        } while (number != 0);
        return *this << first;
    }

  private:
    wchar_t *next_;
    wchar_t *last_; // where the terminator goes when the line is full
};

} // namespace

SimulationReading ParseSimulatedDisplay(const wchar_t *text, SimulatedDisplay &display)
{
    if ((*text >= L'a' && *text <= L'z') || (*text >= L'A' && *text <= L'Z'))
    {
        for (const DeviceProfile &profile : kProfiles)
        {
            std::size_t i = 0;
            while (profile.name[i] != 0 && static_cast<wchar_t>(profile.name[i]) == text[i])
            {
                ++i;
            }
            if (profile.name[i] == 0 && text[i] == 0)
            {
                display = profile.display;
                return {SimulationFault::None, i};
            }
        }
        return {SimulationFault::UnknownProfile, 0};
    }
    DWORD words[kSimulationWords] = {};
    const wchar_t *cursor = text;
    for (int i = 0; i < kSimulationWords; ++i)
    {
        const WordReading reading = ReadWord(cursor, i < kSimulationWords - 1 ? L',' : L'\0');
        if (reading.fault != SimulationFault::None)
        {
            return {reading.fault, static_cast<std::size_t>(cursor - text)};
        }
        words[i] = reading.word;
    }
    display.properties.cxWidth = words[0];
    display.properties.cyHeight = words[1];
    display.properties.cbxPitch = static_cast<LONG>(words[2]);
    display.properties.cbyPitch = static_cast<LONG>(words[3]);
    display.properties.cBPP = static_cast<LONG>(words[4]);
    display.properties.ffFormat = words[5];
    display.isDRAMBuffer = static_cast<int>(words[6]);
    return {SimulationFault::None, static_cast<std::size_t>(cursor - text)};
}

void DescribeMalformedSimulation(const wchar_t *text, SimulationReading reading, wchar_t *line,
                                 std::size_t capacity)
{
    LineWriter out(line, capacity);
    out << L"GX.dll: " << kSimulationVariable << L"=\"" << text << L"\" is malformed at ";
    if (text[reading.position] == 0)
    {
        out << L"its end";
    }
    else
    {
        out << L"character " << reading.position + 1;
    }
    out << L": " << Expected(reading.fault);
    if (reading.fault == SimulationFault::UnknownProfile)
    {
        for (const DeviceProfile &profile : kProfiles)
        {
            out << (&profile == kProfiles ? L"" : L", ") << profile.name;
        }
    }
    out << L"\n";
}
