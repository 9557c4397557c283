# Cross build for little-endian SH Linux: the device build's SH3 images and the CE stand-in
# that runs them under qemu-sh4.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR sh4)

set(SH_PREFIX sh4-linux-gnu)
set(CMAKE_C_COMPILER ${SH_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${SH_PREFIX}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${SH_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
