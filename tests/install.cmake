# cmake -DBUILD_DIR=... -DPREFIX=... -DVERSION=... [-DPACKAGE=ON] -P install.cmake
# Installs into PREFIX and checks what lands there; with PACKAGE, also makes the .deb and has
# lintian look at it as Debian's archive would.
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
    bin/cafe-admin
    share/applications/${id}.desktop
    share/icons/hicolor/scalable/apps/${id}.svg
    share/metainfo/${id}.metainfo.xml
    share/doc/qinglan-cafe-console/operator-guide.html
    share/doc/qinglan-cafe-console/copyright
    share/doc/qinglan-cafe-console/changelog.gz
    share/man/man1/cafe-console.1.gz
    share/man/man1/client-sim.1.gz
    share/man/man1/cafe-admin.1.gz)
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
# The window's class is the program's name (Qt takes the application name, set to it): the
# desktop matches the running window to its entry by it.
file(STRINGS ${PREFIX}/share/applications/${id}.desktop wmclass REGEX "^StartupWMClass=")
if(NOT wmclass STREQUAL "StartupWMClass=cafe-console")
  message(FATAL_ERROR "the desktop entry names the window class '${wmclass}'")
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
execute_process(COMMAND ${PREFIX}/bin/cafe-admin --version
  RESULT_VARIABLE ran OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT ran EQUAL 0 OR NOT out MATCHES "cafe-admin ${VERSION}")
  message(FATAL_ERROR "the installed cafe-admin answered ${ran}: ${out} ${err}")
endif()

if(NOT PACKAGE)
  return()
endif()
set(stage ${PREFIX}-deb)
file(REMOVE_RECURSE ${stage})
execute_process(COMMAND cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${stage}
  RESULT_VARIABLE packed OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB deb ${stage}/*.deb)
if(NOT packed EQUAL 0 OR NOT deb)
  message(FATAL_ERROR "cpack: ${out}")
endif()
execute_process(COMMAND dpkg-deb --contents ${deb} OUTPUT_VARIABLE contents)
if(NOT contents MATCHES "usr/share/doc/qinglan-cafe-console/operator-guide.html")
  message(FATAL_ERROR "the package's doc folder lacks the operator's guide:\n${contents}")
endif()
# What the programs link (libsodium for the operators' hashes and the seal) is asked for.
execute_process(COMMAND dpkg-deb --field ${deb} Depends OUTPUT_VARIABLE depends)
foreach(needed libsodium23 libqt6sql6-sqlite libpq5)
  if(NOT depends MATCHES "${needed}")
    message(FATAL_ERROR "the package does not depend on ${needed}: ${depends}")
  endif()
endforeach()
find_program(LINTIAN lintian REQUIRED)
execute_process(COMMAND ${LINTIAN} --fail-on error --tag-display-limit 0 ${deb}
  RESULT_VARIABLE linted OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "lintian: ${out}")
if(NOT linted EQUAL 0)
  message(FATAL_ERROR "lintian finds errors in the package:\n${out}${err}")
endif()
