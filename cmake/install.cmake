# Installation: libzhand with its SONAME, its public headers, a pkg-config
# file and a CMake package (find_package(ZHand) gives ZHand::zhand), the
# programs, and a Debian package through CPack (cpack -G DEB).
include(CMakePackageConfigHelpers)

set(ZHAND_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/zhand)
set(ZHAND_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZHand)

# The public headers and every header of the driver folder they include.
function(zhand_public_headers out)
  set(pending zhand.h zhand_flat.h)
  set(found)
  while(pending)
    list(POP_FRONT pending header)
    set(path ${PROJECT_SOURCE_DIR}/driver/${header})
    if(header IN_LIST found OR NOT EXISTS ${path})
      continue()
    endif()
    list(APPEND found ${header})
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
    file(STRINGS ${path} includes REGEX "^#include \"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" name "${line}")
      list(APPEND pending ${name})
    endforeach()
  endwhile()
  list(TRANSFORM found PREPEND ${PROJECT_SOURCE_DIR}/driver/)
  set(${out} ${found} PARENT_SCOPE)
endfunction()

if(TARGET zhand)
  install(TARGETS zhand EXPORT ZHandTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT runtime NAMELINK_COMPONENT development
    INCLUDES DESTINATION ${ZHAND_INCLUDE_DIR})
  zhand_public_headers(headers)
  install(FILES ${headers} DESTINATION ${ZHAND_INCLUDE_DIR} COMPONENT development)

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

foreach(program zhand-station zhand-sim)
  if(TARGET ${program})
    # Installed programs find the installed library under any prefix.
    set_property(TARGET ${program} PROPERTY INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endforeach()

if(PROJECT_IS_TOP_LEVEL)
  set(CPACK_PACKAGE_NAME zhand)
  set(CPACK_PACKAGE_VENDOR "ZorvathHand")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ZorvathHand test station, hand driver library (libzhand) and simulated hand")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZorvathHand station developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12)")
  include(CPack)
endif()
