# The viewer tests drive the widget with QTest's key and mouse events.
if(TARGET test_fax_view)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  target_link_libraries(test_fax_view PRIVATE Qt6::Test)
endif()
