# Crash campaign: the built program killed at its write system calls during
# an import (strace), then the catalogue checked. The script skips (status
# 77) where strace cannot trace.
add_test(NAME import_crash
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/crash/import_crash_test.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(import_crash PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
# Power-cut replay: the import's writes into the catalogue, recorded with
# strace, rebuilt as every state a disk could hold at a cut.
add_test(NAME power_cut
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/crash/power_cut_test.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(power_cut PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
