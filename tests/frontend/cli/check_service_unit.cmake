# The watch service's unit, made as the install makes it but naming the built
# program, checked by systemd-analyze verify: unknown or misspelt settings,
# a program that is not there, a settings file it cannot name.
#   cmake -DANALYZE=... -DUNIT_IN=... -DPROGRAM=... -DSETTINGS=... -DWORK=... -P
file(MAKE_DIRECTORY ${WORK})
set(VELMORA_CLI_PATH ${PROGRAM})
set(VELMORA_SETTINGS_FILE ${SETTINGS})
configure_file(${UNIT_IN} ${WORK}/velmora-watch@recorder.service @ONLY)
execute_process(COMMAND ${ANALYZE} verify --man=no ${WORK}/velmora-watch@recorder.service
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
    message(FATAL_ERROR "systemd-analyze verify: ${result}\n${output}")
endif()
