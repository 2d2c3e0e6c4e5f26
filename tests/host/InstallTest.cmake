# Installs the build into a scratch prefix and runs the installed programs from there:
# korvex-verify, picvox-host --headless --demo save, and korvex --screenshot on the saved run,
# as a user typing it in a terminal anywhere, without a display.
#   cmake -DBUILD_DIR=build -DSCRATCH=dir -DMODULE_DIR=lib/.../korvex -P InstallTest.cmake
file(REMOVE_RECURSE ${SCRATCH})
set(prefix ${SCRATCH}/prefix)
set(home ${SCRATCH}/home)
file(MAKE_DIRECTORY ${home}/docs)
file(WRITE ${home}/docs/Picvox.ini "")

# The installation's data folder is the system's one here (as /usr/share is for the package).
function(run)
  cmake_parse_arguments(R "" "RESULT;OUTPUT;DIR" "COMMAND" ${ARGN})
  if(NOT R_DIR)
    set(R_DIR ${SCRATCH})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env HOME=${home} XDG_CONFIG_HOME=${home}/cfg
                          XDG_DOCUMENTS_DIR=${home}/docs XDG_CACHE_HOME=${home}/cache
                          XDG_DATA_HOME=${home}/data XDG_DATA_DIRS=${prefix}/share
                          TMPDIR=${home} --unset=DISPLAY --unset=WAYLAND_DISPLAY
                          --unset=QT_QPA_PLATFORM ${R_COMMAND}
                  WORKING_DIRECTORY ${R_DIR}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${R_RESULT} ${result} PARENT_SCOPE)
  set(${R_OUTPUT} "${out}" PARENT_SCOPE)
  if(NOT result EQUAL 0)
    message(STATUS "${R_COMMAND}: exit ${result}\n${out}\n${err}")
  endif()
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()

foreach(file bin/korvex bin/korvex-verify bin/picvox-host bin/dvrsim ${MODULE_DIR}/libpicvox.so
        share/applications/org.korvex.Korvex.desktop
        share/applications/org.korvex.PicvoxHost.desktop
        share/metainfo/org.korvex.Korvex.metainfo.xml
        share/icons/hicolor/32x32/apps/korvex.png share/icons/hicolor/scalable/apps/korvex.svg
        share/man/man1/picvox-host.1.gz share/man/man1/korvex.1.gz share/korvex/Viewer2.ini
        share/doc/korvex/copyright share/doc/korvex/changelog.gz)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
# The viewer's desktop entry starts it where its brand file is.
file(READ ${prefix}/share/applications/org.korvex.Korvex.desktop desktop)
if(NOT desktop MATCHES "Path=${prefix}/share/korvex\n")
  message(FATAL_ERROR "the viewer's desktop entry names the wrong folder:\n${desktop}")
endif()

# The installed host registers the installed module and saves a short run.
run(COMMAND ${prefix}/bin/picvox-host --headless --demo save --set save_time=3 --run-seconds 30
            --screenshot ${SCRATCH}/host.png
    RESULT host OUTPUT host_out)
if(NOT host EQUAL 0)
  message(FATAL_ERROR "picvox-host --demo save failed (${host}):\n${host_out}")
endif()
file(READ ${home}/cfg/korvex/registry.ini store)
string(FIND "${store}" "${prefix}/${MODULE_DIR}/libpicvox.so" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the host did not register the installed module:\n${store}")
endif()
# The run must have written the control's log (Picvox.ini is there) with the engine's start.
file(READ ${home}/docs/Picvox_log.log log LIMIT 1000000)
string(FIND "${log}" "MainProcessThread START!!" engine)
if(engine EQUAL -1)
  message(FATAL_ERROR "the installed control's engine did not start:\n${host_out}")
endif()
string(REGEX MATCH "saved ([^\n]+)" line "${host_out}")
set(saved ${CMAKE_MATCH_1})
if(NOT saved OR NOT IS_DIRECTORY "${saved}")
  message(FATAL_ERROR "no saved run reported:\n${host_out}")
endif()

run(COMMAND ${prefix}/bin/korvex-verify ${saved} RESULT verified)
if(NOT verified EQUAL 0)
  message(FATAL_ERROR "korvex-verify ${saved} failed (${verified})")
endif()
# Typed in a folder of its own: the viewer finds the installed brand file in the data folders,
# and without a display it renders offscreen by itself.
file(MAKE_DIRECTORY ${SCRATCH}/elsewhere)
run(COMMAND ${prefix}/bin/korvex --screenshot ${SCRATCH}/viewer.png ${saved}
    DIR ${SCRATCH}/elsewhere RESULT shot)
if(NOT shot EQUAL 0 OR NOT EXISTS ${SCRATCH}/viewer.png)
  message(FATAL_ERROR "korvex --screenshot failed (${shot})")
endif()

file(REMOVE_RECURSE ${SCRATCH})
