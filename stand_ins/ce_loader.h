// Windows CE's loader, stood in: maps a device image (PE32) where CE would put it, applies its base
// relocations if it goes elsewhere, binds its imports to the stand-in's DLLs and gives each section
// its protection. Every read and write of the image, in its file or mapped, goes through one
// bounds-checked accessor, which refuses, naming what pointed outside, rather than go past it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

struct LoadedImage
{
    unsigned char *at;          // where it is mapped: the instance handle its entry is given
    std::uintptr_t entry;       // the address of its entry point, WinMain
    bool isHighResolutionAware; // as Windows Mobile 2003 Second Edition and later decide it
};

// Loads the image in `file` at `base`, or at its preferred base; refuses, naming why, an image a CE
// device would not load or that the stand-in cannot place.
LoadedImage LoadImage(std::vector<unsigned char> file, std::optional<std::uint32_t> base);
