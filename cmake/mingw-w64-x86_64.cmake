# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (POSIX thread
# model, for std::thread): g++-mingw-w64-x86-64-posix.
#   cmake -S . -B build-windows -G Ninja \
#       -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVALLORA_BUILD_GUI=OFF
# The tests run under Wine (wine64) when it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VALLORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VALLORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VALLORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VALLORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VALLORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One program that runs on a bare Windows: the C++ runtime and winpthreads
# linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(VALLORA_WINE NAMES wine)
if(VALLORA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VALLORA_WINE})
endif()
