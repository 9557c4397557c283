// How the CE stand-in refuses what it cannot play as a device would: it says why on standard error
// and ends with status 2, with no exit status printed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void Fail(const std::string &why)
{
    std::fprintf(stderr, "error: %s\n", why.c_str());
    std::exit(2);
}

inline std::string Hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}
