# Run by CPack after installing into its staging folder: the files that name
# the installed binary name the package's, /usr/bin/pellimar, also when the
# build was configured for another prefix.
file(GLOB_RECURSE services "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/pellimar-fetch.service"
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/pellimar-watch.service")
foreach(service IN LISTS services)
  file(READ "${service}" text)
  string(REGEX REPLACE "\nExecStart=[^ \n]*pellimar " "\nExecStart=/usr/bin/pellimar " text "${text}")
  file(WRITE "${service}" "${text}")
endforeach()
