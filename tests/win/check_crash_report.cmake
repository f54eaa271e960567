# Runs a test program's crash case and checks that the crash is reported as
# one: the message of the unhandled-exception filter and its exit code, not
# a debugger that ends with a code Wine may turn into success.
#   cmake -DPROGRAM=... [-DEMULATOR=wine] -DEXPECTED_CODE=229 -P check_crash_report.cmake
execute_process(
  COMMAND ${EMULATOR} ${PROGRAM} --gtest_also_run_disabled_tests --gtest_catch_exceptions=0
          --gtest_filter=CrashReport.DISABLED_AccessViolationEndsTheProgramWithItsCode
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output
  TIMEOUT 120)
message("${output}")
if(NOT result STREQUAL "${EXPECTED_CODE}")
  message(FATAL_ERROR "crash ended with '${result}', expected exit code ${EXPECTED_CODE}")
endif()
if(NOT output MATCHES "Unhandled exception 0xC0000005")
  message(FATAL_ERROR "crash not reported by the test program's exception filter")
endif()
message("crash reported as expected")
