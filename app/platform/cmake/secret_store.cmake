# The desktop keyring through libsecret.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET libsecret-1)
target_link_libraries(pellimar_app_platform PUBLIC PkgConfig::LIBSECRET)
