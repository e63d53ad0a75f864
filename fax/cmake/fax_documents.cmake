# TIFF and PDF fax documents: libtiff and Poppler's Qt 6 binding.
# Private: no header of the fax library includes theirs, so their include
# paths stay out of every other target's compile lines.
find_package(PkgConfig REQUIRED)
pkg_check_modules(PELLIMAR_LIBTIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(PELLIMAR_POPPLER_QT6 REQUIRED IMPORTED_TARGET poppler-qt6)
target_link_libraries(${name} PRIVATE PkgConfig::PELLIMAR_LIBTIFF PkgConfig::PELLIMAR_POPPLER_QT6)
