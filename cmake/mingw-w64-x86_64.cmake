# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, so that
# std::thread, std::mutex and std::condition_variable work):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KALVO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KALVO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KALVO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KALVO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KALVO_MINGW_PREFIX})
# -DKALVO_WINDOWS_KIT=<folder>: the kit's static SQLite, libcurl and libjpeg are found there too.
if(KALVO_WINDOWS_KIT)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KALVO_WINDOWS_KIT})
endif()
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KALVO_WINDOWS_KIT)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and winpthread go into each executable: Wine and a bare Windows then need no
# DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Executables run under Wine when CTest or gtest_discover_tests starts them.
find_program(KALVO_WINE wine)
if(KALVO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KALVO_WINE})
endif()
