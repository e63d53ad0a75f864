# The viewer on a Hi-DPI screen: the viewer tests once more at a scale
# factor of 2, only those that need it.
if(TARGET test_fax_view)
  add_test(NAME fax_view_hidpi COMMAND test_fax_view --gtest_filter=ViewerHiDpi.*)
  set_tests_properties(fax_view_hidpi PROPERTIES ENVIRONMENT "${PELLIMAR_TEST_ENV};QT_SCALE_FACTOR=2" TIMEOUT 600)
endif()
