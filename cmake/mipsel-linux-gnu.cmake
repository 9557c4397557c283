# Cross build for 32-bit little-endian MIPS Linux: the device build's MIPS images and the CE stand-in
# that runs them under qemu-mipsel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(MIPS_PREFIX mipsel-linux-gnu)
set(CMAKE_C_COMPILER ${MIPS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MIPS_PREFIX}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${MIPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
