# The Browse Faxes page tests click headers and rows with QTest's events.
if(TARGET test_app)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  target_link_libraries(test_app PRIVATE Qt6::Test)
endif()
