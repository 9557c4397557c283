// A box's text as the box reader prints it, and as the CE stand-in prints its boxes so that the same
// expected files hold both: quoted, with line feeds, tabs, carriage returns, quotes and backslashes
// escaped, and \uXXXX for anything else beyond printable ASCII, so that every text is one line.
#pragma once

#include <cstdio>
#include <string>

// Text: any range of UTF-16 code units, such as a std::wstring on Windows or a std::u16string_view.
template <typename Text> std::string QuotedBoxText(const Text &text)
{
    std::string out = "\"";
    for (const auto ch : text)
    {
        const auto code = static_cast<unsigned>(ch);
        switch (code)
        {
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += static_cast<char>(code);
            break;
        default:
            if (code >= 0x20 && code < 0x7F)
            {
                out += static_cast<char>(code);
            }
            else
            {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", code);
                out += escaped;
            }
        }
    }
    return out + "\"";
}
