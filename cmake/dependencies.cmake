# Every outside dependency of the build, looked up once, here, before any
# folder is added; the folders link the imported targets named below.
#
#   the driver (always)      Threads::Threads
#   the station, the store   PkgConfig::SQLITE3 PkgConfig::LIBPQ nlohmann_json::nlohmann_json
#   zhand-report             PkgConfig::HTTPLIB, ZHAND_CHART_JS (a file)
#   the tests                GTest::gtest GTest::gmock ...
#   the benchmarks           benchmark::benchmark
#   the manual pages         ZHAND_SCDOC (a program; without it no pages)
#
# With ZHAND_DRIVER_ONLY the driver needs nothing but the compiler and its
# C library, and nothing else is looked for.

find_package(Threads REQUIRED)
if(ZHAND_DRIVER_ONLY)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(SQLITE3 REQUIRED IMPORTED_TARGET GLOBAL sqlite3)
pkg_check_modules(LIBPQ REQUIRED IMPORTED_TARGET GLOBAL libpq)
find_package(nlohmann_json 3 REQUIRED)

if(ZHAND_REPORT)
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET GLOBAL cpp-httplib)
  # Chart.js comes from Debian's libjs-chart.js and is built into zhand-report
  # with the pages' own script and style, so a report opens with no network.
  set(ZHAND_CHART_JS /usr/share/javascript/chart.js/chart.min.js CACHE FILEPATH
      "Chart.js (UMD build) embedded into zhand-report")
  if(NOT EXISTS ${ZHAND_CHART_JS})
    message(FATAL_ERROR "Chart.js not found at ${ZHAND_CHART_JS}: install libjs-chart.js")
  endif()
endif()

if(ZHAND_TESTS)
  find_package(GTest REQUIRED)
endif()
if(ZHAND_BENCH)
  find_package(benchmark REQUIRED)
endif()

find_program(ZHAND_SCDOC scdoc)
if(NOT ZHAND_SCDOC)
  message(WARNING "scdoc not found: no manual pages (install scdoc)")
endif()
