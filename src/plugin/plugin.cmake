# The plug-in proper: PluginState, the entry points and the frame pipeline as
# a static library (tests, benchmarks and the settings window link it).
# One stream's processing objects and a frame's passes through them: shared
# by the plug-in and the other faces of the filter.
add_library(qrx_pipeline STATIC ${CMAKE_CURRENT_SOURCE_DIR}/frame_pipeline.cpp)
target_link_libraries(qrx_pipeline PUBLIC qrx_frame qrx_filter qrx_transform qrx_platform qrx_options)
set_target_properties(qrx_pipeline PROPERTIES POSITION_INDEPENDENT_CODE ON)

add_library(qrx_plugin_core STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/plugin_state.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/entry_points.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/pipeline.cpp)
target_link_libraries(qrx_plugin_core PUBLIC
  qrx_pipeline qrx_frame qrx_filter qrx_transform qrx_settings qrx_platform qrx_options)
set_target_properties(qrx_plugin_core PROPERTIES POSITION_INDEPENDENT_CODE ON)
# Everything the module links must be position independent on Linux.
foreach(lib qrx_frame qrx_filter qrx_transform qrx_settings qrx_platform)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
endforeach()

