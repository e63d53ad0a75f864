# The MIME decoding benchmark compares with GMime 3 on the same mail.
if(TARGET bench_mime_decode)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MIME_BENCH_GMIME REQUIRED IMPORTED_TARGET gmime-3.0)
  target_link_libraries(bench_mime_decode PRIVATE PkgConfig::MIME_BENCH_GMIME)
endif()
