# What makes Tallyweave a desktop program of the system it is installed on: the desktop entry,
# the icons, the AppStream description, the manual pages and the package's documents; and the
# Debian package made of it all by `cpack -G DEB`.
set(TW_APP_ID org.example.tallyweave.Tallyweave)
# Installing (and so packaging) needs only what is installed built, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(TW_DATA ${CMAKE_SOURCE_DIR}/data)

install(FILES ${TW_DATA}/${TW_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TW_DATA}/${TW_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${TW_DATA}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
        FILES_MATCHING PATTERN "*.png")
install(FILES ${TW_DATA}/icons/${TW_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages and the changelog are installed compressed, as the system keeps them; gzip -n
# leaves the name and time out, so that the same sources give the same bytes.
find_program(TW_GZIP gzip REQUIRED)
set(TW_DATADIR ${CMAKE_INSTALL_FULL_DATADIR}/tallyweave)
configure_file(${TW_DATA}/tallyweave.1.in ${CMAKE_BINARY_DIR}/man/tallyweave.1 @ONLY)
configure_file(${TW_DATA}/tallyweave-batch.1 ${CMAKE_BINARY_DIR}/man/tallyweave-batch.1 COPYONLY)
configure_file(${TW_DATA}/debian/changelog ${CMAKE_BINARY_DIR}/man/changelog COPYONLY)
set(tw_compressed)
foreach(file man/tallyweave.1 man/tallyweave-batch.1 man/changelog)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${file}.gz
    COMMAND ${TW_GZIP} -9nf -k ${CMAKE_BINARY_DIR}/${file}
    DEPENDS ${CMAKE_BINARY_DIR}/${file}
    VERBATIM)
  list(APPEND tw_compressed ${CMAKE_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(tallyweave_docs ALL DEPENDS ${tw_compressed})
install(FILES ${CMAKE_BINARY_DIR}/man/tallyweave.1.gz ${CMAKE_BINARY_DIR}/man/tallyweave-batch.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/man/changelog.gz ${TW_DATA}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tallyweave)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallyweave)
set(CPACK_PACKAGE_VENDOR "Tallyweave developers")
set(CPACK_PACKAGE_CONTACT "Tallyweave developers <maintainers@tallyweave.example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tallyweave.example.org/)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail merge of worksheet rows into workbooks")
# The extended description; CPack puts the summary above it and indents it as the control file
# wants.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tallyweave takes the rows of one worksheet of a workbook, from a start line
down to the last used row, as records and carries them into a destination.
In the Excel to Excel mode the rows of a destination workbook are matched
with those of a source workbook by an index column, and chosen columns are
copied across into a new workbook. It reads .xlsx, .xlsm, .xls and .csv files
itself; every run reports each record. The windows come in English,
Simplified Chinese and Traditional Chinese, and the command tallyweave-batch
runs the same merges from scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts in the Chinese languages, and the faces the language files name.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-dejavu-core, fonts-noto-cjk")
# The converter for .xls outputs and for formula results of .xls inputs, and for documents.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS
    "libreoffice-calc-nogui | libreoffice-calc, libreoffice-writer-nogui | libreoffice-writer")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
