# The POP3 benchmark starts its own Dovecot server through the test fixture.
if(TARGET bench_pop3_retr)
  include(${PROJECT_SOURCE_DIR}/tests/support/support_library.cmake)
  target_link_libraries(bench_pop3_retr PRIVATE pellimar_test_support)
endif()
