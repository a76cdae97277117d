# Installation: libzhand with its SONAME, its public headers, a pkg-config
# file and a CMake package (find_package(ZHand) gives ZHand::zhand), the
# programs with their manual pages, and Debian packages through CPack.
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/debug_symbols.cmake)

set(ZHAND_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/zhand)
set(ZHAND_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZHand)

if(TARGET zhand)
  install(TARGETS zhand EXPORT ZHandTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT library NAMELINK_COMPONENT development
    FILE_SET HEADERS DESTINATION ${ZHAND_INCLUDE_DIR} COMPONENT development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} ${ZHAND_INCLUDE_DIR})
  zhand_install_debug_symbols(TARGET zhand COMPONENT library DEBUG_COMPONENT library_dbgsym
    DESTINATION ${CMAKE_INSTALL_LIBDIR} PACKAGE libzhand${ZHAND_SOVERSION})

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

# The programs, their manual pages (docs/man/*.scd, made with scdoc) and the
# simulated hand's factory defaults. Under a prefix whose library folder the
# dynamic linker searches anyway (/usr) the programs carry no RPATH; under any
# other they find the installed library through $ORIGIN.
list(FIND CMAKE_C_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" zhand_system_libdir)
set(zhand_programs)
foreach(program zhand-station zhand-sim zhand-report)
  if(TARGET ${program})
    list(APPEND zhand_programs ${program})
    if(zhand_system_libdir EQUAL -1)
      set_property(TARGET ${program} PROPERTY INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
  endif()
endforeach()
if(zhand_programs)
  install(TARGETS ${zhand_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
  foreach(program IN LISTS zhand_programs)
    zhand_install_debug_symbols(TARGET ${program} COMPONENT programs
      DEBUG_COMPONENT programs_dbgsym DESTINATION ${CMAKE_INSTALL_BINDIR} PACKAGE zhand)
  endforeach()
  install(FILES ${PROJECT_SOURCE_DIR}/sim/Defaults.dat
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zhand COMPONENT programs)
endif()
if(zhand_programs AND ZHAND_SCDOC)
  set(zhand_man_pages)
  foreach(program IN LISTS zhand_programs)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${program}.1.scd)
    set(page ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -DSCDOC=${ZHAND_SCDOC} -DINPUT=${source} -DOUTPUT=${page}
        -P ${PROJECT_SOURCE_DIR}/cmake/scdoc.cmake
      DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/scdoc.cmake
      COMMENT "Manual page ${program}(1)")
    list(APPEND zhand_man_pages ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${zhand_man_pages})
endif()

include(${CMAKE_CURRENT_LIST_DIR}/packages.cmake)
