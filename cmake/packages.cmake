# Debian packages as Debian builds them, through CPack (cpack -G DEB in the
# build folder, or cpack --preset release):
#   libzhand<SOVERSION>   the shared library, with its shlibs
#   libzhand-dev          headers, zhand.pc, the CMake package
#   zhand                 the programs, their manual pages, Defaults.dat
#   libzhand<SOVERSION>-dbgsym, zhand-dbgsym
#                         the debug symbols of the stripped binaries
#                         (cmake/debug_symbols.cmake)
# Depends come from dpkg-shlibdeps. A folder that installs a component of
# its own (python/: python3-zhand) sets CPACK_DEBIAN_<COMPONENT>_PACKAGE_*
# and is packaged with the others: every install component is.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

set(ZHAND_LIBRARY_PACKAGE libzhand${ZHAND_SOVERSION})
set(zhand_package_components library development)
set(zhand_package_names ${ZHAND_LIBRARY_PACKAGE} libzhand-dev)
if(zhand_programs)
  list(APPEND zhand_package_components programs)
  list(APPEND zhand_package_names zhand)
endif()

# Every package carries its copyright and, as a native package, its changelog
# (gzip -9n, as Debian compresses it).
set(zhand_changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${zhand_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/debian
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/debian/changelog > ${zhand_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/debian/changelog
  COMMENT "Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS ${zhand_changelog})
foreach(component package IN ZIP_LISTS zhand_package_components zhand_package_names)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/debian/copyright ${zhand_changelog}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_NAME zhand)
set(CPACK_PACKAGE_VENDOR "ZorvathHand")
set(CPACK_PACKAGE_CONTACT "ZorvathHand station developers <station@zorvathhand.example>")
# Each package's description is its own (CPACK_DEBIAN_<COMPONENT>_DESCRIPTION,
# the synopsis first): CPack puts a CPACK_PACKAGE_DESCRIPTION_SUMMARY before it.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
# The packages install where this build was configured to (the presets: /usr),
# so the programs find their files where the build put their paths.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
get_cmake_property(CPACK_COMPONENTS_ALL COMPONENTS)
list(REMOVE_ITEM CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# zhand links libzhand of its own build, which no installed package provides.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
# The dbgsym packages are components of their own (debug_symbols.cmake):
# CPack's CPACK_DEBIAN_DEBUGINFO_PACKAGE writes md5sums that name its
# staging folder, and gives them no copyright.

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${ZHAND_LIBRARY_PACKAGE})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
  "ZorvathHand hand driver library\nThe ZHand class and its flat C interface, over a serial port.")
# The dynamic linker's cache is brought up to date by dpkg's ldconfig trigger.
file(WRITE ${PROJECT_BINARY_DIR}/debian/library/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/debian/library/triggers)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzhand-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${ZHAND_LIBRARY_PACKAGE} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
  "ZorvathHand hand driver library, development files\nHeaders, pkg-config file and CMake package of libzhand.")

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME zhand)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "${ZHAND_LIBRARY_PACKAGE} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
  "ZorvathHand test station and simulated hand\nzhand-station tests a hand over its serial port, zhand-sim simulates the\nhand's controller on a pseudo-terminal, zhand-report reads the test records.")
foreach(component package IN ZIP_LISTS zhand_package_components zhand_package_names)
  if(component STREQUAL "development")
    continue()
  endif()
  string(TOUPPER ${component}_DBGSYM var)
  set(CPACK_DEBIAN_${var}_PACKAGE_NAME ${package}-dbgsym)
  set(CPACK_DEBIAN_${var}_PACKAGE_SECTION debug)
  set(CPACK_DEBIAN_${var}_PACKAGE_DEPENDS "${package} (= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_${var}_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_${var}_DESCRIPTION "debug symbols for ${package}")
endforeach()
include(CPack)
