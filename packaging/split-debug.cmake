# Runs in CPack before the package is made (CPACK_PRE_BUILD_SCRIPTS): each program in the
# staged tree keeps only what it runs with; its debug symbols go to CPACK_CAFE_DEBUG_DIR as
# <program>.debug, which the stripped program names (gdb finds them there or in
# /usr/lib/debug/.build-id).
find_program(OBJCOPY objcopy REQUIRED)
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*")
file(MAKE_DIRECTORY "${CPACK_CAFE_DEBUG_DIR}")
foreach(program IN LISTS programs)
  get_filename_component(name "${program}" NAME)
  set(debug "${CPACK_CAFE_DEBUG_DIR}/${name}.debug")
  execute_process(COMMAND "${OBJCOPY}" --only-keep-debug --compress-debug-sections "${program}" "${debug}"
    RESULT_VARIABLE kept)
  execute_process(COMMAND "${OBJCOPY}" --strip-debug --strip-unneeded --remove-section=.comment
    --remove-section=.note --add-gnu-debuglink=${debug} "${program}"
    RESULT_VARIABLE stripped)
  if(NOT kept EQUAL 0 OR NOT stripped EQUAL 0)
    message(FATAL_ERROR "could not split the debug symbols of ${name}")
  endif()
endforeach()
