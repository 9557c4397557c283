# Cross build of the native tests for 32-bit ARM (ARM state, little-endian, unsigned char), the
# device's processor family, run through qemu-arm user-mode emulation.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ARM_PREFIX arm-linux-gnueabi)
set(CMAKE_C_COMPILER ${ARM_PREFIX}-gcc) # GoogleTest checks for threads in C
set(CMAKE_CXX_COMPILER ${ARM_PREFIX}-g++)
# -Wno-psabi: GCC's note that ARM argument passing changed in GCC 7.1 is about linking with objects
# built before it, and nothing here is.
set(CMAKE_C_FLAGS_INIT "-marm -Wno-psabi")
set(CMAKE_CXX_FLAGS_INIT "-marm -Wno-psabi")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${ARM_PREFIX})

set(CMAKE_FIND_ROOT_PATH /usr/${ARM_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
