# The python3-zhand Debian package: the package zhand (the extension, its
# stubs and the pytest plugin) and its dist-info in Debian's dist-packages.
# cmake/packages.cmake packages every install component; these are the
# settings of this one, for the top folder's include(CPack).
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-zhand PARENT_SCOPE)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python PARENT_SCOPE)
# The extension is built for one minor version of Python; dpkg-shlibdeps
# adds the libraries it links.
math(EXPR next_minor "${Python_VERSION_MINOR} + 1")
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
  "libzhand${ZHAND_SOVERSION} (= ${PROJECT_VERSION}), python3 (>= 3.${Python_VERSION_MINOR}), python3 (<< 3.${next_minor})"
  PARENT_SCOPE)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS python3-pytest PARENT_SCOPE)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION
  "ZorvathHand hand driver and test records for Python\nimport zhand: the hand over its serial port, runs recorded in the station's\nresults store, and a pytest plugin (fixtures hand and record)."
  PARENT_SCOPE)
