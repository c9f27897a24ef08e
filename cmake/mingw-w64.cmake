# Builds for 64-bit Windows with Debian's mingw-w64 (its POSIX-thread compilers, which
# std::thread needs). Qt for Windows comes from scripts/build-qt-mingw.sh:
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#       -DCMAKE_PREFIX_PATH=$(scripts/build-qt-mingw.sh)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# The mingw-w64 headers and libraries, and the prefixes given (Qt for Windows among them).
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Qt's tools (moc, uic, rcc) run on this machine: those of the same version installed here.
if(NOT QT_HOST_PATH)
    set(QT_HOST_PATH /usr)
    execute_process(COMMAND dpkg-architecture -qDEB_HOST_MULTIARCH
                    OUTPUT_VARIABLE multiarch OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${multiarch}/cmake)
endif()
