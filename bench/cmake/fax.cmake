# The fax decoding benchmark compares with libtiff's Group 3 decoder.
if(TARGET bench_fax_decode)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(FAX_BENCH_TIFF REQUIRED IMPORTED_TARGET libtiff-4)
  target_link_libraries(bench_fax_decode PRIVATE PkgConfig::FAX_BENCH_TIFF)
endif()
