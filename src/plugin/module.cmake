# The module that the host loads, which exports nothing but the two functions.
add_library(QRX_FreqFilter SHARED ${CMAKE_CURRENT_LIST_DIR}/exports.cpp)
target_link_libraries(QRX_FreqFilter PRIVATE qrx_plugin_core)
if(TARGET qrx_ui_module)
  # The settings window with its resources, installed when the module loads
  # (object files, so that nothing of it is dropped by the linker).
  target_link_libraries(QRX_FreqFilter PRIVATE qrx_ui_module)
endif()
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
    -Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/exports.map -Wl,--exclude-libs,ALL)
  set_property(TARGET QRX_FreqFilter APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/exports.map)
  # A missing symbol is a build error, not a failure at load time (the
  # sanitizer runtimes resolve theirs from the executable).
  if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
    target_link_options(QRX_FreqFilter PRIVATE -Wl,--no-undefined)
  endif()
endif()
