# cmake -DSCDOC=scdoc -DINPUT=page.1.scd -DOUTPUT=page.1.gz -P scdoc.cmake
# scdoc reads standard input only, so the page is made through this script,
# and compressed as Debian installs manual pages (gzip -9n: no name, no time).
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${INPUT}
  COMMAND gzip -9n OUTPUT_FILE ${OUTPUT}
  RESULTS_VARIABLE statuses ERROR_VARIABLE errors)
if(NOT statuses STREQUAL "0;0")
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "scdoc ${INPUT}: ${errors}")
endif()
