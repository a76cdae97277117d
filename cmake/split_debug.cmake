# At install time (zhand_install_debug_symbols): the debug symbols of
# ZHAND_BINARY into lib/debug/.build-id under the prefix, and the doc link.
execute_process(COMMAND ${ZHAND_READELF} -n ${ZHAND_BINARY} OUTPUT_VARIABLE notes
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
  message(FATAL_ERROR "${ZHAND_BINARY} has no build id")
endif()
set(debug_file
  "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/debug/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug")
get_filename_component(folder ${debug_file} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
message(STATUS "Installing: ${debug_file}")
execute_process(COMMAND ${ZHAND_OBJCOPY} --only-keep-debug --compress-debug-sections
  ${ZHAND_BINARY} ${debug_file} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot keep the debug symbols of ${ZHAND_BINARY}")
endif()
file(CHMOD ${debug_file} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
if(NOT EXISTS ${ZHAND_DOC_LINK})
  get_filename_component(folder ${ZHAND_DOC_LINK} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(CREATE_LINK ${ZHAND_DOC_TARGET} ${ZHAND_DOC_LINK} SYMBOLIC)
endif()
list(APPEND CMAKE_INSTALL_MANIFEST_FILES ${debug_file} ${ZHAND_DOC_LINK})
