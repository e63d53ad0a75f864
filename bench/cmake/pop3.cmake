# The POP3 benchmarks start their own Dovecot server through the test fixture.
include(${PROJECT_SOURCE_DIR}/tests/support/support_library.cmake)
foreach(target bench_pop3_retr bench_pop3_tls_retr)
  if(TARGET ${target})
    target_link_libraries(${target} PRIVATE pellimar_test_support)
  endif()
endforeach()
