# Run by CPack once it has made the packages. The debugging-symbols package
# CPack makes lists its file in md5sums under the build machine's absolute
# path, marks the symbols executable and has no documentation folder;
# finish-dbgsym.sh mends all three as Debian's own -dbgsym packages have
# them (the folder a link to the main package's, which it depends on at the
# same version).
set(main "")
set(dbgsym "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.ddeb$")
    set(dbgsym "${package}")
  elseif(package MATCHES "\\.deb$")
    set(main "${package}")
  endif()
endforeach()
if(dbgsym)
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/finish-dbgsym.sh "${dbgsym}" "${main}"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
