set(QRX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# The tests run under Wine's 32-bit loader where Debian's wine32:i386 is
# installed (scripts/setup.sh wine32); without it they are built, not run.
if(EXISTS /usr/lib/wine/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
else()
  unset(CMAKE_CROSSCOMPILING_EMULATOR)
endif()
