set(QRX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# 32-bit Windows programs cannot run on this machine; nothing is emulated.
unset(CMAKE_CROSSCOMPILING_EMULATOR)
