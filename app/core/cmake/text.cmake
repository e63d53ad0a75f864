# Text recognition and the text index: Tesseract and SQLite (with FTS5).
# Private: only the sources of the recogniser and the index include them.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PELLIMAR_TESSERACT REQUIRED IMPORTED_TARGET tesseract)
pkg_check_modules(PELLIMAR_SQLITE REQUIRED IMPORTED_TARGET sqlite3)
target_link_libraries(${name} PRIVATE PkgConfig::PELLIMAR_TESSERACT PkgConfig::PELLIMAR_SQLITE)
