# The catalogue benchmarks compare with zlib and SQLite on the same data.
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
if(TARGET bench_qdb_storage)
  target_link_libraries(bench_qdb_storage PRIVATE ZLIB::ZLIB)
endif()
if(TARGET bench_qdb_engine)
  target_link_libraries(bench_qdb_engine PRIVATE SQLite::SQLite3)
endif()
