# The TIFF and PDF viewer benchmark times libtiff's and Poppler's own work
# beside the viewer's page change.
if(TARGET bench_fax_documents)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(DOCUMENT_BENCH_TIFF REQUIRED IMPORTED_TARGET libtiff-4)
  pkg_check_modules(DOCUMENT_BENCH_POPPLER REQUIRED IMPORTED_TARGET poppler-qt6)
  target_link_libraries(bench_fax_documents PRIVATE PkgConfig::DOCUMENT_BENCH_TIFF PkgConfig::DOCUMENT_BENCH_POPPLER)
endif()
