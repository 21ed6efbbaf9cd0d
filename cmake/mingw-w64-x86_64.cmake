# Cross build for 64-bit Windows with Debian's MinGW-w64, POSIX-threads
# variant (std::thread and std::mutex work): packages g++-mingw-w64-x86-64-posix
# and binutils-mingw-w64-x86-64. The -posix compilers are named outright,
# whatever the system's alternatives point at.
#
#   cmake -S . -B build/win64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCHRONAVEL_WINDOWS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Headers and libraries of the target come from the MinGW tree (and from
# CMAKE_PREFIX_PATH, where the Windows GoogleTest is installed); programs
# run during the build from the host. Package configurations are looked up
# in both, so the header-only CLI11 and nlohmann-json of the host are found.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Each .exe runs alone: the C++ runtime, libgcc and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
