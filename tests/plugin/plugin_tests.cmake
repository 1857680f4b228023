# Tests of the plug-in module and its pipeline. Each binary gets a folder of
# its own: the plug-in keeps its settings in "Plugins/" beside the host
# executable, and binaries running side by side must not share that file.
function(qrx_plugin_test name)
  qrx_add_gtest(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/${name})
endfunction()

# Through the exports only: the module is loaded from beside the test binary.
qrx_plugin_test(plugin_exports_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_exports_test.cpp
  LIBS qrx_host_support qrx_frame)
add_custom_target(plugin_exports_test_module
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:QRX_FreqFilter> $<TARGET_FILE_DIR:plugin_exports_test>/
  VERBATIM)
add_dependencies(plugin_exports_test_module QRX_FreqFilter)
add_dependencies(plugin_exports_test plugin_exports_test_module)
target_compile_definitions(plugin_exports_test PRIVATE QRX_MODULE_BUILT_AT="$<TARGET_FILE:QRX_FreqFilter>")

# The pipeline's cases that need the state directly (window hooks, demo
# mode, the mask builder's passes) and the lifecycle under stress.
qrx_plugin_test(plugin_pipeline_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_pipeline_test.cpp
  LIBS qrx_plugin_core qrx_host_support)
qrx_plugin_test(plugin_stress_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/plugin_stress_test.cpp
  LIBS qrx_plugin_core qrx_host_support)
