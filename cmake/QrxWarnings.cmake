# Warnings and code-generation flags shared by every target of the tree.
add_library(qrx_options INTERFACE)
target_compile_options(qrx_options INTERFACE
  "$<$<COMPILE_LANGUAGE:C,CXX>:-Wall;-Wextra;-Wno-unused-parameter>")
target_include_directories(qrx_options INTERFACE ${CMAKE_SOURCE_DIR}/src)
if(QRX_SMALL_TESTS)
  target_compile_definitions(qrx_options INTERFACE QRX_SMALL_TESTS=1)
endif()
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  # 32-bit x86: the baseline is a Pentium III (SSE, no SSE2); SSE2 and wider
  # code is chosen at run time through target attributes. The Windows 32-bit
  # stack is only 4-byte aligned, so SSE spills need realignment.
  target_compile_options(qrx_options INTERFACE "$<$<COMPILE_LANGUAGE:C,CXX>:-march=pentium3;-mfpmath=sse>")
  if(QRX_WINDOWS)
    target_compile_options(qrx_options INTERFACE $<$<COMPILE_LANGUAGE:C,CXX>:-mstackrealign>)
  endif()
endif()
