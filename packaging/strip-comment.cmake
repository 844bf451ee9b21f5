# Run by CPack on its staging tree before it splits off the debugging
# symbols: drops the `.comment` section of every program and library (the
# compiler's and the C library's version strings), which nobody running the
# program needs.
find_program(objcopy NAMES objcopy REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46") # ELF
    execute_process(COMMAND ${objcopy} --remove-section=.comment "${file}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
