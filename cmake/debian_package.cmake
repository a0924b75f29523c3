# The Debian package of the Linux build: its control fields, its documents and the
# gzip-compressed manual pages that Debian's policy asks for.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# A Debian revision marks the package as built from an upstream release, not native.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Profile Desk Authors <survey@profiledesk.example>")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Lines of under 80 characters, as Debian's tools show them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "profiledesk asks seventeen one-word questions about a candidate at a"
  "community desk, shows the answers back with a few figures computed from two"
  "of them, and appends each profile as a 30-line text record to datas.dat in"
  "the folder it runs in. It lists the stored records for searching with grep"
  "or less, and has two guidance screens. Several copies can share one record"
  "file: each append takes a lock."
  "."
  "profiledesk-records reads the record files of many desks back into data for a"
  "records office: it checks them, exports them as CSV or JSON Lines, collates"
  "them into SQLite or PostgreSQL without duplicates, and draws a one-page HTML"
  "report.")
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# gzip -n -9 so that the package's bytes do not depend on when it was built.
function(profiledesk_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND gzip -n -9 -c ${CMAKE_SOURCE_DIR}/${source} > ${output}
    DEPENDS ${source}
    VERBATIM)
  get_filename_component(name ${output} NAME)
  add_custom_target(gzip_${name} ALL DEPENDS ${output})
endfunction()

# Installs a manual page such as man/profiledesk.1, compressed, in its section's folder.
function(profiledesk_manual_page page)
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE ".*\\.([1-9])$" "\\1" section ${name})
  profiledesk_gzip(${page} ${CMAKE_BINARY_DIR}/man/${name}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man ${CMAKE_BINARY_DIR}/doc)
profiledesk_gzip(packaging/debian/changelog ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz)
install(FILES packaging/debian/copyright ${CMAKE_BINARY_DIR}/doc/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES packaging/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
        RENAME ${PROJECT_NAME})
