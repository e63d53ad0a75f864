# The helpers shared by the test programs and the benchmarks (servers,
# fixture files): defined by whichever of tests/ and bench/ comes first, so
# that the benchmarks also build without the tests.
include_guard(GLOBAL)
find_package(GTest REQUIRED)
file(GLOB support_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp ${CMAKE_CURRENT_LIST_DIR}/*.h)
add_library(pellimar_test_support STATIC ${support_sources})
target_include_directories(pellimar_test_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(pellimar_test_support PUBLIC GTest::gtest Qt6::Core Qt6::Widgets)
target_compile_definitions(pellimar_test_support PUBLIC
  PELLIMAR_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  PELLIMAR_BINARY_DIR="${PROJECT_BINARY_DIR}")
