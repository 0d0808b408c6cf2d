# Read by cpack: adds the module's libraries but libobs, as dpkg-shlibdeps
# names them, to the Debian package's Depends.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_TAVIMORE_SHLIBDEPS)
  set(_dir "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps")
  file(MAKE_DIRECTORY "${_dir}/debian")
  file(WRITE "${_dir}/debian/control" "")
  execute_process(
    COMMAND "${CPACK_TAVIMORE_SHLIBDEPS}" -O -xlibobs0 "${CPACK_TAVIMORE_MODULE}"
    WORKING_DIRECTORY "${_dir}"
    OUTPUT_VARIABLE _shlibdeps
    RESULT_VARIABLE _result
    ERROR_VARIABLE _errors)
  if(NOT _result EQUAL 0 OR NOT _shlibdeps MATCHES "shlibs:Depends=([^\n]*)")
    message(FATAL_ERROR "dpkg-shlibdeps failed on ${CPACK_TAVIMORE_MODULE}: ${_errors}")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_DEBIAN_PACKAGE_DEPENDS}, ${CMAKE_MATCH_1}")
endif()
