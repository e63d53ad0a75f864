# Text recognition and the text index: real Tesseract on faxes made at test
# time by tools/make_text_fixtures.py, a real SQLite index, the real window.
find_package(Qt6 REQUIRED COMPONENTS Test)
file(GLOB text_test_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/text/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/text/*.h)
add_executable(test_text ${text_test_sources})
target_link_libraries(test_text PRIVATE pellimar_app pellimar_test_support pellimar_test_main Qt6::Test)
add_test(NAME text COMMAND test_text)
set_tests_properties(text PROPERTIES ENVIRONMENT "${PELLIMAR_TEST_ENV}" TIMEOUT 600)
