# End-to-end tests: the built program on a private X display, driven over
# the accessibility bus by Debian's Python with pyatspi. The script skips
# (status 77) when the display or the buses cannot be brought up. They run one
# at a time: Xvfb servers started side by side can race for one display.
add_test(NAME e2e
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/viewer_e2e.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(e2e PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK private_desktop
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
add_test(NAME e2e_import
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/import_e2e.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(e2e_import PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK private_desktop
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
add_test(NAME e2e_browser
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/browser_e2e.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(e2e_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK private_desktop
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
add_test(NAME e2e_first_start
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/first_start_e2e.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(e2e_first_start PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK private_desktop
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
add_test(NAME e2e_accessible_names
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/accessible_names_e2e.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(e2e_accessible_names PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK private_desktop
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
add_test(NAME e2e_keyboard
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/keyboard_e2e.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(e2e_keyboard PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK private_desktop
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
