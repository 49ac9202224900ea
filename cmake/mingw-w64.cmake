# Cross build of the Windows x64 DLL with MinGW-w64 (posix threads variant);
# test programs run under Wine, each build dir with a Wine prefix of its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# One deployable file: the C++ runtime, libgcc and winpthread go in statically.
# Sections on page boundaries in the file too, so a loader can map the image
# as it lies instead of reading it into fresh pages (Wine copies a 512-byte
# aligned image whole at every start: 1.5 ms for vesk.exe).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wl,--file-alignment,4096")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--file-alignment,4096")

set(VESK_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader that runs the test programs")
