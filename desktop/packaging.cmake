# The Debian package: `cpack -G DEB`. It installs under /usr whatever prefix
# the build was configured with (a Debian package never puts files into
# /usr/local), and its fetch service runs /usr/bin/pellimar. Library
# dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellimar)
set(CPACK_PACKAGE_VENDOR "Pellimar project")
set(CPACK_PACKAGE_CONTACT "Pellimar developers <pellimar@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collects faxes that a fax-to-mail server delivered to a POP3 mailbox")
set(CPACK_PACKAGE_DESCRIPTION "Pellimar logs in to a POP3 mailbox, picks out the mails of the fax-to-mail
forwarding server, stores the APF fax files they carry with a small
catalogue, and lets you browse, view, print and import them. It can also
fetch without a window, for example from the systemd user timer it installs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package_paths.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
