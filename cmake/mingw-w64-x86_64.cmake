# Desktop Windows for x86-64 (PE32+): runs under 64-bit Wine alone, where a host cannot run 32-bit
# x86 programs.
set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
