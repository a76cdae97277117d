# Installation: libzhand with its SONAME, its public headers, a pkg-config
# file and a CMake package (find_package(ZHand) gives ZHand::zhand), the
# programs with their manual pages, and Debian packages through CPack.
include(CMakePackageConfigHelpers)

set(ZHAND_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/zhand)
set(ZHAND_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZHand)

if(TARGET zhand)
  install(TARGETS zhand EXPORT ZHandTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT library NAMELINK_COMPONENT development
    FILE_SET HEADERS DESTINATION ${ZHAND_INCLUDE_DIR} COMPONENT development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} ${ZHAND_INCLUDE_DIR})

  install(EXPORT ZHandTargets NAMESPACE ZHand:: DESTINATION ${ZHAND_CMAKE_DIR}
    COMPONENT development)
  configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZHandConfig.cmake.in
    ${PROJECT_BINARY_DIR}/cmake/ZHandConfig.cmake INSTALL_DESTINATION ${ZHAND_CMAKE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/ZHandConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/ZHandConfig.cmake
    ${PROJECT_BINARY_DIR}/cmake/ZHandConfigVersion.cmake
    DESTINATION ${ZHAND_CMAKE_DIR} COMPONENT development)

  # zhand.pc names the prefix given at install time (cmake --install --prefix),
  # so the template is filled in twice: now with everything but the prefix,
  # at install time with the prefix.
  foreach(kind LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE ${CMAKE_INSTALL_${kind}})
      set(ZHAND_PC_${kind} ${CMAKE_INSTALL_${kind}})
    else()
      set(ZHAND_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
    endif()
  endforeach()
  set(ZHAND_PC_PREFIX "@ZHAND_PC_PREFIX@")
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zhand.pc.in ${PROJECT_BINARY_DIR}/cmake/zhand.pc.in @ONLY)
  if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR})
    set(pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  else()
    set(pc_dir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig")
  endif()
  install(CODE "
    set(ZHAND_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(pc_file \"\$ENV{DESTDIR}${pc_dir}/zhand.pc\")
    message(STATUS \"Installing: \${pc_file}\")
    configure_file(\"${PROJECT_BINARY_DIR}/cmake/zhand.pc.in\" \"\${pc_file}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc_file}\")
    " COMPONENT development)
endif()

# The programs, their manual pages (made from each program's --help, the one
# source of what it accepts) and the simulated hand's factory defaults.
find_program(HELP2MAN help2man)
set(zhand_program_summaries
  "zhand-station=ZorvathHand test station"
  "zhand-sim=simulated ZorvathHand controller on a pseudo-terminal"
  "zhand-report=reports, export and import of ZorvathHand test records")
set(zhand_man_pages)
foreach(entry IN LISTS zhand_program_summaries)
  string(REPLACE "=" ";" pair "${entry}")
  list(GET pair 0 program)
  list(GET pair 1 summary)
  if(NOT TARGET ${program})
    continue()
  endif()
  # Installed programs find the installed library under any prefix.
  set_property(TARGET ${program} PROPERTY INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  if(HELP2MAN)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
        ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
        --name=${summary} --section=1 --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program}
      COMMENT "Manual page of ${program}")
    list(APPEND zhand_man_pages ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  endif()
endforeach()
if(zhand_man_pages)
  add_custom_target(man_pages ALL DEPENDS ${zhand_man_pages})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/sim/Defaults.dat
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zhand COMPONENT programs)

# Debian packages as Debian users expect them: the shared library alone
# (named for its SONAME), its -dev package with headers, zhand.pc and the
# CMake package, and the programs.
if(PROJECT_IS_TOP_LEVEL)
  set(ZHAND_LIBRARY_PACKAGE libzhand${ZHAND_SOVERSION})
  set(CPACK_PACKAGE_NAME zhand)
  set(CPACK_PACKAGE_VENDOR "ZorvathHand")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ZorvathHand test station, hand driver library (libzhand) and simulated hand")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL library development programs)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZorvathHand station developers")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${ZHAND_LIBRARY_PACKAGE})
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12)")
  set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "ZorvathHand hand driver library\n The ZHand class and its flat C interface, over a serial port.")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzhand-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${ZHAND_LIBRARY_PACKAGE} (= ${PROJECT_VERSION})")
  set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "ZorvathHand hand driver library, development files\n Headers, pkg-config file and CMake package of libzhand.")
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME zhand)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION electronics)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS
    "${ZHAND_LIBRARY_PACKAGE} (= ${PROJECT_VERSION}), libsqlite3-0, libc6 (>= 2.34), libstdc++6 (>= 12)")
  set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "ZorvathHand test station and simulated hand\n zhand-station tests a hand over its serial port, zhand-sim simulates the\n hand's controller on a pseudo-terminal, zhand-report reads the test records.")
  include(${PROJECT_SOURCE_DIR}/python/cpack.cmake)
  include(CPack)
endif()
