# Install layout and the Debian package (cpack -G DEB), for scripts/package.sh.
# The service, the desktop entry and the example files are the ones in
# examples/, so a source install and the package cannot drift apart.

set(MWL_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(MWL_PACKAGE_BUILD ${CMAKE_BINARY_DIR}/packaging)
set(MWL_DOC_DIR share/doc/talvek-mwl)
set(MWL_DEMO_DIR share/talvek-mwl/demo)

# The changelog's newest entry is the package version: it must be this one.
file(STRINGS ${MWL_PACKAGING_DIR}/changelog MWL_CHANGELOG_HEAD LIMIT_COUNT 1)
if(NOT MWL_CHANGELOG_HEAD MATCHES "^talvek-mwl \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog begins with \"${MWL_CHANGELOG_HEAD}\"; "
                      "add an entry for version ${PROJECT_VERSION} first.")
endif()

# Debian wants the changelog and the manual page compressed without time stamps.
function(mwl_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()
file(MAKE_DIRECTORY ${MWL_PACKAGE_BUILD})
mwl_gzip(${MWL_PACKAGING_DIR}/changelog ${MWL_PACKAGE_BUILD}/changelog.gz)
mwl_gzip(${MWL_PACKAGING_DIR}/talvek-mwl.1 ${MWL_PACKAGE_BUILD}/talvek-mwl.1.gz)
add_custom_command(OUTPUT ${MWL_PACKAGE_BUILD}/his.db
  COMMAND ${CMAKE_SOURCE_DIR}/examples/make-demo-his.sh ${MWL_PACKAGE_BUILD}/his.db
  DEPENDS ${CMAKE_SOURCE_DIR}/examples/make-demo-his.sh
          ${CMAKE_SOURCE_DIR}/examples/xray-worklist.sql
  VERBATIM)
add_custom_target(package_files ALL DEPENDS ${MWL_PACKAGE_BUILD}/changelog.gz
  ${MWL_PACKAGE_BUILD}/talvek-mwl.1.gz ${MWL_PACKAGE_BUILD}/his.db)

install(TARGETS talvek-mwl RUNTIME DESTINATION bin)
# Stripping keeps the compiler's .comment section, which Debian drops too.
install(CODE "execute_process(COMMAND objcopy --remove-section=.comment
  \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/talvek-mwl COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${CMAKE_SOURCE_DIR}/examples/talvek-mwl.service DESTINATION /lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/examples/talvek-mwl.desktop DESTINATION share/applications)
install(FILES ${MWL_PACKAGE_BUILD}/talvek-mwl.1.gz DESTINATION share/man/man1)
install(FILES ${MWL_PACKAGING_DIR}/copyright ${MWL_PACKAGE_BUILD}/changelog.gz
              ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/conformance-statement.md
        DESTINATION ${MWL_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/connection-strings.txt
              ${CMAKE_SOURCE_DIR}/examples/xray-worklist.sql
              ${CMAKE_SOURCE_DIR}/examples/worksheet.sql
        DESTINATION ${MWL_DOC_DIR}/examples)
# Copied into /var/lib/talvek on the first installation (postinst).
install(FILES ${MWL_PACKAGING_DIR}/PACS.conf ${MWL_PACKAGE_BUILD}/his.db
        DESTINATION ${MWL_DEMO_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/orders/ DESTINATION ${MWL_DEMO_DIR}/orders
        FILES_MATCHING PATTERN "*.HL7")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME talvek-mwl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "TALVEK maintainers <maintainers@users.noreply.c-seed-7889ce31.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DICOM Modality Worklist server for hospital information systems")
# The summary is the synopsis line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Imaging modalities ask it which patients and orders wait for them (DICOM
C-FIND on the Modality Worklist information model); it answers from the
hospital information system: SQL databases reached through ODBC (TALVEK,
PELTA, ORVELLINE and CORVANTE schemas) or a folder of order files.
.
The package holds the desktop program, a systemd service for the headless
server running as the system user talvek (not enabled on installation), a
demo HIS and the DICOM conformance statement.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# The shared libraries it links come from dpkg-shlibdeps; the ODBC plugin of
# Qt Sql, the drivers and adduser are loaded or run, not linked.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libqt6sql6-odbc, unixodbc, libsqliteodbc")
# FreeTDS for the SQL Server back-ends, MariaDB for ORVELLINE, the window's
# display plugins for the desktop program.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc, odbc-mariadb, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "dcmtk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${MWL_PACKAGING_DIR}/postinst;${MWL_PACKAGING_DIR}/prerm;${MWL_PACKAGING_DIR}/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
