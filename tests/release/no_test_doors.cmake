# Fails when a program a user runs holds a way in that exists for tests only: the
# names of test environment variables or of the fixed random source of sealed
# files. BINARIES: the programs, separated by commas; PROBE: a test-only library that must
# hold one of the names, so that the scan itself is seen to work.
set(doors "TARNQUILL_TEST_CA|TARNQUILL_SETTINGS|TARNQUILL_AUTOSTART_DIR|tarnquill-test-deterministic|UseDeterministicRandomForTests")
file(STRINGS "${PROBE}" probe REGEX "${doors}")
if(NOT probe)
  message(FATAL_ERROR "The scan found no test door in ${PROBE}, which has one; the scan is broken")
endif()
string(REPLACE "," ";" BINARIES "${BINARIES}")
foreach(binary IN LISTS BINARIES)
  file(STRINGS "${binary}" found REGEX "${doors}")
  if(found)
    message(FATAL_ERROR "${binary} holds test-only names: ${found}")
  endif()
  message(STATUS "${binary}: no test doors")
endforeach()
