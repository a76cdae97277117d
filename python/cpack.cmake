# The python3-zhand Debian package: the package zhand (the extension, its
# stubs and the pytest plugin) and its dist-info in Debian's dist-packages.
# Included by cmake/install.cmake among the CPack settings, before
# include(CPack); nothing when the module is not built.
if(TARGET zhand_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zhand)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  # The extension is built for one minor version of Python.
  math(EXPR next_minor "${ZHAND_PYTHON_VERSION_MINOR} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "${ZHAND_LIBRARY_PACKAGE} (= ${PROJECT_VERSION}), python3 (>= 3.${ZHAND_PYTHON_VERSION_MINOR}), python3 (<< 3.${next_minor}), libsqlite3-0, libpq5, libc6 (>= 2.34), libstdc++6 (>= 12)")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-pytest)
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "ZorvathHand hand driver and test records for Python\n import zhand: the hand over its serial port, runs recorded in the station's\n results store, and a pytest plugin (fixtures hand and record).")
endif()
