# Each room is a library that sees only its own headers and those of the rooms it links:
# its include path is a folder of forwarding headers made here, one per header of the room,
# so a lower room that names a higher room's header does not compile.
#
#   cafe_room(target [INTERFACE] DIRS dir... [FILES file...] [EXCLUDE file...] LINKS lib...)
#
# DIRS are folders relative to the source root, taken without their subfolders.
function(cafe_room target)
  cmake_parse_arguments(ROOM "INTERFACE" "" "DIRS;FILES;EXCLUDE;LINKS" ${ARGN})
  set(files)
  foreach(dir IN LISTS ROOM_DIRS)
    file(GLOB found CONFIGURE_DEPENDS
      ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.h)
    list(APPEND files ${found})
  endforeach()
  foreach(file IN LISTS ROOM_FILES)
    list(APPEND files ${CMAKE_SOURCE_DIR}/${file})
  endforeach()
  foreach(file IN LISTS ROOM_EXCLUDE)
    list(REMOVE_ITEM files ${CMAKE_SOURCE_DIR}/${file})
  endforeach()

  set(stage ${CMAKE_BINARY_DIR}/rooms/${target})
  foreach(file IN LISTS files)
    if(file MATCHES "\\.h$")
      file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR} ${file})
      file(CONFIGURE OUTPUT ${stage}/${relative} CONTENT "#include \"@file@\"\n" @ONLY)
    endif()
  endforeach()

  if(ROOM_INTERFACE)
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${stage})
    target_link_libraries(${target} INTERFACE ${ROOM_LINKS})
  else()
    add_library(${target} STATIC ${files})
    target_include_directories(${target} PUBLIC ${stage})
    target_link_libraries(${target} PUBLIC ${ROOM_LINKS})
  endif()
endfunction()
