# The Debian package of escupdate: the program in /usr/bin, its manual page, the udev rule
# in /usr/lib/udev/rules.d, the copyright file and the changelog. Made by
# scripts/build-deb.sh from the linux-release preset.
# A sanitizer build is never packaged: it has no packaging configuration at all.
if(ESC_SANITIZE OR NOT TARGET escupdate)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME escupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Firmware updater for ESCs through their USB programming unit (command line)")
# Debian wants the lines of the long description within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "escupdate lists the programming units plugged in, tells the versions of a unit
and its ESC, and writes the matching firmware image to the ESC, with the same
checks, questions and texts as the updater's window. A udev rule lets the user
at the seat use the unit without root.")
set(CPACK_PACKAGE_CONTACT "ESC updater maintainers <maintainers@example.com>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# udev picks the rule up at once, and units already plugged in get their access.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/escupdate-deb/postinst)

# The copyright file and the changelog every Debian package carries (a version without a
# Debian revision makes a native package, whose changelog is changelog.gz). The changelog
# takes the package's version; its date is SOURCE_DATE_EPOCH's when set, for a
# reproducible package.
string(TIMESTAMP ESC_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(deb_docs ${CMAKE_BINARY_DIR}/escupdate-deb)
configure_file(${CMAKE_CURRENT_LIST_DIR}/escupdate-deb/changelog.in ${deb_docs}/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${deb_docs}/changelog COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/escupdate-deb/copyright ${deb_docs}/changelog.gz
        DESTINATION share/doc/escupdate)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
