# One helper registers every GoogleTest binary. Windows builds compile
# GoogleTest from Debian's sources; native builds use the installed package
# (or the same sources when it is built with other flags, as for -m32).
set(QRX_GTEST_FROM_SOURCE OFF)
if(QRX_WINDOWS OR QRX_CORE_ONLY OR QRX_GTEST_SOURCE)
  set(QRX_GTEST_FROM_SOURCE ON)
endif()

macro(qrx_setup_gtest)
  if(NOT TARGET GTest::gtest_main)
    if(QRX_GTEST_FROM_SOURCE)
      set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
      add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
      # Newer GoogleTest sources define these aliases themselves.
      if(NOT TARGET GTest::gtest)
        add_library(GTest::gtest ALIAS gtest)
      endif()
      if(NOT TARGET GTest::gtest_main)
        add_library(GTest::gtest_main ALIAS gtest_main)
      endif()
    else()
      find_package(GTest REQUIRED)
    endif()
  endif()
endmacro()

# qrx_add_gtest(NAME SOURCES file... LIBS lib...)
function(qrx_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  qrx_setup_gtest()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} qrx_options GTest::gtest_main)
  # Shared test helpers: #include "support/...".
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  if(QRX_WINDOWS)
    target_link_options(${name} PRIVATE -static)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

# qrx_glob_tests(<name> <pattern> LIBS lib...): one test binary from the
# files of this folder that match the pattern, if there are any.
function(qrx_glob_tests name pattern)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB files CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
  if(files)
    qrx_add_gtest(${name} SOURCES ${files} LIBS ${T_LIBS})
  endif()
endfunction()
