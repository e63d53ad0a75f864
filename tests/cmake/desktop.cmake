# Desktop integration: the menu entry and APF file type, and the Debian
# package (a release build of its own, so it has the label "package" for
# leaving it out: ctest -LE package).
add_test(NAME desktop_files
  COMMAND ${PROJECT_SOURCE_DIR}/tests/desktop/desktop_files_test.sh ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/desktop_files)
add_test(NAME package
  COMMAND ${PROJECT_SOURCE_DIR}/tests/desktop/package_test.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/package-test)
set_tests_properties(package PROPERTIES LABELS package TIMEOUT 3600 RUN_SERIAL ON
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1")
