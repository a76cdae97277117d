# Binaries installed stripped, their debug symbols in a package of their own,
# as Debian's dbgsym packages hold them: /usr/lib/debug/.build-id/xx/rest.debug
# found by the build id, and the package's doc folder a link to the binary
# package's.
#
#   zhand_install_debug_symbols(TARGET t COMPONENT c DEBUG_COMPONENT d
#                               DESTINATION dir PACKAGE p)
# strips t where component c installs it (dir, relative to the prefix) and
# installs its debug symbols with component d, whose package links its doc
# folder to that of package p.
include_guard(GLOBAL)

#   zhand_install_stripped(TARGET t COMPONENT c DESTINATION dir)
# strips t where component c installs it (dir, relative to the prefix), as
# Debian ships binaries.
function(zhand_install_stripped)
  cmake_parse_arguments(arg "" "TARGET;COMPONENT;DESTINATION" "" ${ARGN})
  set(installed "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${arg_DESTINATION}/$<TARGET_FILE_NAME:${arg_TARGET}>")
  install(CODE "
    execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --strip-debug --strip-unneeded \"${installed}\"
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR \"cannot strip ${installed}\")
    endif()
    " COMPONENT ${arg_COMPONENT})
endfunction()

function(zhand_install_debug_symbols)
  cmake_parse_arguments(arg "" "TARGET;COMPONENT;DEBUG_COMPONENT;DESTINATION;PACKAGE" "" ${ARGN})
  zhand_install_stripped(TARGET ${arg_TARGET} COMPONENT ${arg_COMPONENT}
                         DESTINATION ${arg_DESTINATION})
  install(CODE "
    set(ZHAND_OBJCOPY \"${CMAKE_OBJCOPY}\")
    set(ZHAND_READELF \"${CMAKE_READELF}\")
    set(ZHAND_BINARY \"$<TARGET_FILE:${arg_TARGET}>\")
    set(ZHAND_DOC_LINK \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/doc/${arg_PACKAGE}-dbgsym\")
    set(ZHAND_DOC_TARGET \"${arg_PACKAGE}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/split_debug.cmake\")
    " COMPONENT ${arg_DEBUG_COMPONENT})
endfunction()
