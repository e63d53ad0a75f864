# The desktop keyring tests run in a program of their own: they point the
# session bus at a private D-Bus with GNOME Keyring before Qt first uses it.
file(GLOB keyring_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/keyring/*.cpp)
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(test_keyring ${keyring_sources})
target_link_libraries(test_keyring PRIVATE pellimar_app pellimar_test_support pellimar_test_main Qt6::Test)
add_test(NAME keyring COMMAND test_keyring)
set_tests_properties(keyring PROPERTIES ENVIRONMENT "${PELLIMAR_TEST_ENV}" TIMEOUT 600)
