# Builds the Debian package from the build folder, as the README says, looks at what it holds
# and runs lintian on it: any error or warning fails the test. Without lintian (the package
# lintian of tools/debian-packages.txt) the test is skipped, and says so.
#   cmake -DBUILD_DIR=build -DSCRATCH=dir -DMODULE_DIR=lib/.../korvex -P PackageTest.cmake
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD_DIR}/CPackConfig.cmake -G DEB
                        -B ${SCRATCH}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB debs ${SCRATCH}/korvex_*.deb)
list(LENGTH debs count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack -G DEB failed (${result}):\n${out}\n${err}")
endif()

execute_process(COMMAND dpkg-deb --contents ${debs} OUTPUT_VARIABLE contents RESULT_VARIABLE r1)
execute_process(COMMAND dpkg-deb --info ${debs} OUTPUT_VARIABLE info RESULT_VARIABLE r2)
if(NOT r1 EQUAL 0 OR NOT r2 EQUAL 0)
  message(FATAL_ERROR "dpkg-deb cannot read ${debs}")
endif()
# The module in the package's own folder, where the linker's cache never looks, and nothing that
# asks for ldconfig; the documents Debian wants; compressed man pages.
foreach(path ./usr/${MODULE_DIR}/libpicvox.so ./usr/share/doc/korvex/copyright
        ./usr/share/doc/korvex/changelog.gz ./usr/share/man/man1/korvex-verify.1.gz)
  string(FIND "${contents}" " ${path}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package lacks ${path}:\n${contents}")
  endif()
endforeach()
foreach(pattern " ./usr/lib/libpicvox\\.so" "\\.1\n" " postinst" " postrm")
  if("${contents}\n${info}" MATCHES "${pattern}")
    message(FATAL_ERROR "the package holds what it should not (${pattern}):\n${contents}\n${info}")
  endif()
endforeach()

find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(STATUS "lintian is not installed (Debian package lintian): the package was not checked")
  return()  # CTest marks the test skipped on that line (SKIP_REGULAR_EXPRESSION)
endif()
execute_process(COMMAND ${LINTIAN} --tag-display-limit 0 -I -E --pedantic ${debs}
                OUTPUT_VARIABLE report ERROR_VARIABLE lintian_err RESULT_VARIABLE status)
message(STATUS "lintian ${debs}:\n${report}")
if(report MATCHES "(^|\n)[EW]: " OR status GREATER 1)
  message(FATAL_ERROR "lintian reports errors or warnings (status ${status}):\n${report}\n"
                      "${lintian_err}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
