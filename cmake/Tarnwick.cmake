# Shared build helpers.

# Precompiled headers are made once and shared: a library making its own <QtWidgets> took half a minute of
# a core each time, and every test program parsed GoogleTest and Qt from scratch. A target whose flags would
# not fit a shared header only loses the speed (GCC falls back to the headers, -Winvalid-pch says so).
add_library(tarnwick_pch_widgets STATIC ${CMAKE_SOURCE_DIR}/cmake/pch.cpp)
target_link_libraries(tarnwick_pch_widgets PUBLIC Qt6::Widgets)
target_compile_options(tarnwick_pch_widgets PRIVATE -Wall -Wextra -Wno-unused-parameter)
target_precompile_headers(tarnwick_pch_widgets PRIVATE <QtWidgets>)
set_target_properties(tarnwick_pch_widgets PROPERTIES AUTOMOC OFF)

# tarnwick_library(name SOURCES ... LIBS ... [PCH headers...]): one static library per subsystem folder.
# PCH <QtWidgets> takes the shared one; other headers make the library's own.
function(tarnwick_library name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS;PCH" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  target_compile_options(${name} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  if(A_PCH STREQUAL "<QtWidgets>")
    target_precompile_headers(${name} REUSE_FROM tarnwick_pch_widgets)
  elseif(A_PCH)
    target_precompile_headers(${name} PRIVATE ${A_PCH})
  endif()
endfunction()

# tarnwick_test(name SOURCES ... LIBS ... [ENV k=v ...]): one GoogleTest executable under CTest.
# The common main gives every test process its own temporary HOME and XDG folders and an offscreen display.
function(tarnwick_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE tarnwick_testmain ${A_LIBS})
  target_compile_options(${name} PRIVATE -Wall -Wno-unused-parameter)
  # GoogleTest, Qt and the printers (tests/common/qtprinters.h), precompiled once with the common main.
  target_precompile_headers(${name} REUSE_FROM tarnwick_testmain)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  if(TARNWICK_SANITIZE)
    math(EXPR A_TIMEOUT "${A_TIMEOUT} * 3")  # instrumented code runs two to three times slower
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TARNWICK_SKIP_LOG=${CMAKE_BINARY_DIR}/Testing/skipped.txt;TARNWICK_SOURCE_DIR=${CMAKE_SOURCE_DIR};TARNWICK_BINARY_DIR=${CMAKE_BINARY_DIR};${A_ENV}")
endfunction()

# tarnwick_fuzz(name SOURCES ... LIBS ... [MOC]): a libFuzzer target (with -DTARNWICK_FUZZ=ON and clang). The
# code under test is compiled into the target itself, so that it carries the fuzzer's coverage instrumentation;
# MOC when one of its headers declares a Qt object.
function(tarnwick_fuzz name)
  cmake_parse_arguments(A "MOC" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  if(A_MOC)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  else()
    set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  endif()
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()
