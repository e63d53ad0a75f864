# Text recognition and the text index: real Tesseract on faxes made at test
# time by tools/make_text_fixtures.py, a real SQLite index, the real window.
find_package(Qt6 REQUIRED COMPONENTS Test)
file(GLOB text_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/text/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/text/*.h)
add_executable(test_text ${text_test_sources})
target_link_libraries(test_text PRIVATE pellimar_app pellimar_test_support pellimar_test_main Qt6::Test)
add_test(NAME text COMMAND test_text)
set_tests_properties(text PROPERTIES ENVIRONMENT "${PELLIMAR_TEST_ENV}" TIMEOUT 600)

# The real program on a private desktop: a fax found by its text alone.
add_test(NAME e2e_text_search
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/text_search_e2e.py $<TARGET_FILE:pellimar> ${PROJECT_SOURCE_DIR})
set_tests_properties(e2e_text_search PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600 RESOURCE_LOCK private_desktop
  ENVIRONMENT "PYTHONDONTWRITEBYTECODE=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
