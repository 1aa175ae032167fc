# cmake -DBUILD_DIR=... -DPREFIX=... -DVERSION=... -P install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()

set(id io.github.qinglan.CafeConsole)
foreach(file
    bin/cafe-console
    bin/client-sim
    share/applications/${id}.desktop
    share/icons/hicolor/scalable/apps/${id}.svg
    share/metainfo/${id}.metainfo.xml
    share/doc/cafe_console/operator-guide.html)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

find_program(DESKTOP_VALIDATE desktop-file-validate REQUIRED)
execute_process(COMMAND ${DESKTOP_VALIDATE} ${PREFIX}/share/applications/${id}.desktop
  RESULT_VARIABLE desktop OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT desktop EQUAL 0)
  message(FATAL_ERROR "desktop entry: ${out}")
endif()

find_program(APPSTREAMCLI appstreamcli REQUIRED)
execute_process(COMMAND ${APPSTREAMCLI} validate --no-net ${PREFIX}/share/metainfo/${id}.metainfo.xml
  RESULT_VARIABLE metainfo OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT metainfo EQUAL 0)
  message(FATAL_ERROR "metainfo: ${out}")
endif()

execute_process(COMMAND ${PREFIX}/bin/cafe-console --version
  RESULT_VARIABLE ran OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT ran EQUAL 0 OR NOT out MATCHES "cafe-console ${VERSION}")
  message(FATAL_ERROR "the installed console answered ${ran}: ${out} ${err}")
endif()
message(STATUS "installed and answering: ${out}")
