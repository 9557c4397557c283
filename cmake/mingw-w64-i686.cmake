# Desktop Windows for 32-bit x86 (PE32): the device's 32-bit ABI, as close as a PC comes to it.
set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
