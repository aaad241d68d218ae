# Cross build for 32-bit little-endian MIPS Linux with Debian's cross
# compiler (packages g++-mipsel-linux-gnu and binutils-mipsel-linux-gnu):
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(cross mipsel-linux-gnu)
set(CMAKE_C_COMPILER ${cross}-gcc)
set(CMAKE_CXX_COMPILER ${cross}-g++)
set(CMAKE_READELF ${cross}-readelf CACHE FILEPATH "readelf for the target")
set(CMAKE_STRIP ${cross}-strip CACHE FILEPATH "strip for the target")

set(CMAKE_FIND_ROOT_PATH /usr/${cross})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

