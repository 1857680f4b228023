# The plug-in proper: PluginState, the entry points and the frame pipeline as
# a static library (tests and benchmarks link it directly), and the module
# that the host loads, which exports nothing but the two functions.
add_library(qrx_plugin_core STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/plugin_state.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/entry_points.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/pipeline.cpp)
target_link_libraries(qrx_plugin_core PUBLIC
  qrx_frame qrx_filter qrx_transform qrx_settings qrx_platform qrx_options)
set_target_properties(qrx_plugin_core PROPERTIES POSITION_INDEPENDENT_CODE ON)
# Everything the module links must be position independent on Linux.
foreach(lib qrx_frame qrx_filter qrx_transform qrx_settings qrx_platform)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
endforeach()

add_library(QRX_FreqFilter SHARED ${CMAKE_CURRENT_SOURCE_DIR}/exports.cpp)
target_link_libraries(QRX_FreqFilter PRIVATE qrx_plugin_core)
set_target_properties(QRX_FreqFilter PROPERTIES
  PREFIX ""
  OUTPUT_NAME QRX_FreqFilter
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
if(QRX_WINDOWS)
  # Only system DLLs imported; cdecl exports without decoration.
  target_link_options(QRX_FreqFilter PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)
else()
  # The static libraries' symbols stay inside the module.
  target_link_options(QRX_FreqFilter PRIVATE
    -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/exports.map -Wl,--exclude-libs,ALL)
  set_property(TARGET QRX_FreqFilter APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/exports.map)
  # A missing symbol is a build error, not a failure at load time (the
  # sanitizer runtimes resolve theirs from the executable).
  if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(QRX_FreqFilter PRIVATE -Wl,--no-undefined)
  endif()
endif()
