# korvex_require_pkg(PREFIX MODULE DEBIAN package): a pkg-config module as the imported target
# PkgConfig::PREFIX, visible everywhere; when it is missing, configuring stops and names the
# Debian package that provides it.
function(korvex_require_pkg prefix module)
  cmake_parse_arguments(R "" "DEBIAN" "" ${ARGN})
  # Further modules may follow the first one: one imported target for them all.
  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET GLOBAL ${module} ${R_UNPARSED_ARGUMENTS})
  if(NOT ${prefix}_FOUND)
    message(FATAL_ERROR "${module} was not found: install the Debian package ${R_DEBIAN} "
                        "(tools/debian-packages.txt lists every package the build needs)")
  endif()
endfunction()

# korvex_require_package(NAME [find_package arguments] DEBIAN "package ..."): find_package, and
# when it fails, a configure error naming the Debian packages. A macro, so that the imported
# targets are seen by the whole tree below the caller.
macro(korvex_require_package name)
  cmake_parse_arguments(_korvex_req "" "DEBIAN" "" ${ARGN})
  find_package(${name} QUIET ${_korvex_req_UNPARSED_ARGUMENTS})
  if(NOT ${name}_FOUND)
    message(FATAL_ERROR "${name} ${_korvex_req_UNPARSED_ARGUMENTS} was not found: install the "
                        "Debian package(s) ${_korvex_req_DEBIAN} (tools/debian-packages.txt "
                        "lists every package the build needs)")
  endif()
endmacro()

# korvex_test(NAME name LABEL unit|integration|gui SOURCES ... LIBS ... [ENV k=v ...])
# One GoogleTest executable per component, registered as a single CTest test with a label.
function(korvex_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TZ=UTC;KORVEX_TEST_TMP=${CMAKE_CURRENT_BINARY_DIR}/tmp-${T_NAME};${T_ENV}")
endfunction()

# korvex_bench(NAME name SOURCES ... LIBS ...)
function(korvex_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
