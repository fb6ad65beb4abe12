# The Debian package: the program, the catalogue tool, the transfer window, the
# desktop entries with their launcher and icon, the AppStream metadata, and a
# manual page for each program. scripts/package
# builds the files below (target zeplo_desktop_files), then runs cpack.

include(GNUInstallDirs)

# The version the About window and the main window's title show.
set(ZEPLO_VERSION 1.2)

set(ZEPLO_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)
set(ZEPLO_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
set(ZEPLO_LAUNCHER ${CMAKE_INSTALL_FULL_LIBEXECDIR}/zeplo/zeplo-launcher)
configure_file(packaging/zeplo-launcher.in ${ZEPLO_PACKAGE_FILES}/zeplo-launcher @ONLY)
configure_file(packaging/zeplo.desktop.in ${ZEPLO_PACKAGE_FILES}/zeplo.desktop @ONLY)
configure_file(packaging/zeplo-transfer.desktop.in ${ZEPLO_PACKAGE_FILES}/zeplo-transfer.desktop @ONLY)

# The icon is the About window's picture, in the usual sizes of the theme.
set(ZEPLO_ICON_SIZES 16 22 24 32 48 64 128 256)
add_executable(zeplo_icon_sizes EXCLUDE_FROM_ALL packaging/IconSizes.cpp)
target_compile_options(zeplo_icon_sizes PRIVATE ${ZEPLO_WARNINGS})
target_link_libraries(zeplo_icon_sizes PRIVATE Qt6::Gui)
zeplo_check_includes(zeplo_icon_sizes icons ${CMAKE_SOURCE_DIR}/packaging/IconSizes.cpp)
set(ZEPLO_ICONS)
foreach(size IN LISTS ZEPLO_ICON_SIZES)
  list(APPEND ZEPLO_ICONS ${ZEPLO_PACKAGE_FILES}/icons/${size}x${size}/apps/zeplo.png)
endforeach()
add_custom_command(OUTPUT ${ZEPLO_ICONS}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:zeplo_icon_sizes> ${CMAKE_SOURCE_DIR}/assets/about-book.png
            ${ZEPLO_PACKAGE_FILES}/icons ${ZEPLO_ICON_SIZES}
    DEPENDS zeplo_icon_sizes ${CMAKE_SOURCE_DIR}/assets/about-book.png
    VERBATIM)

# Manual pages and the change log go compressed, without time stamps.
set(ZEPLO_GZIPPED)
foreach(name zeplo.1 zeplo-catalogue.1 zeplo-transfer.1 changelog)
  add_custom_command(OUTPUT ${ZEPLO_PACKAGE_FILES}/${name}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/${name} ${ZEPLO_PACKAGE_FILES}/${name}
      COMMAND gzip -9nf ${ZEPLO_PACKAGE_FILES}/${name}
      DEPENDS ${CMAKE_SOURCE_DIR}/packaging/${name}
      VERBATIM)
  list(APPEND ZEPLO_GZIPPED ${ZEPLO_PACKAGE_FILES}/${name}.gz)
endforeach()
add_custom_target(zeplo_desktop_files DEPENDS ${ZEPLO_ICONS} ${ZEPLO_GZIPPED})

install(TARGETS zeplo zeplo-catalogue zeplo-transfer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS ${ZEPLO_PACKAGE_FILES}/zeplo-launcher DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/zeplo)
install(FILES ${ZEPLO_PACKAGE_FILES}/zeplo.desktop ${ZEPLO_PACKAGE_FILES}/zeplo-transfer.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/cz.dubrex.zeplo.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size IN LISTS ZEPLO_ICON_SIZES)
  install(FILES ${ZEPLO_PACKAGE_FILES}/icons/${size}x${size}/apps/zeplo.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${ZEPLO_PACKAGE_FILES}/zeplo.1.gz ${ZEPLO_PACKAGE_FILES}/zeplo-catalogue.1.gz
              ${ZEPLO_PACKAGE_FILES}/zeplo-transfer.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${ZEPLO_PACKAGE_FILES}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zeplo)

# Installing builds nothing: scripts/package builds the programs and the files
# above, and the tests and benchmarks need not be built for a package.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zeplo)
set(CPACK_PACKAGE_VERSION ${ZEPLO_VERSION})
set(CPACK_PACKAGE_VENDOR Dubrex)
set(CPACK_PACKAGE_CONTACT "Dubrex <info@dubrex.cz>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue of a private book collection")
set(CPACK_PACKAGE_DESCRIPTION
    "Zeplo keeps the books of a home library in one catalogue. Its user browses
the collection in a grid, searches it by a piece of a title, an author or a
genre, sorts it and narrows it to lent, read, unread or owned books, edits the
books, and prints the list through a print preview that can also save the
pages to a report file. The interface is in Czech. The package also holds
zeplo-transfer, a window that loads books from spreadsheets (CSV, ODS and
XLSX files), saves them to such files and copies the catalogue to a server,
and zeplo-catalogue, which does the same on the command line.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.dubrex.cz")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries come from dpkg-shlibdeps. The fonts are not linked but read at
# run time: the report and the windows are laid out for their widths. Qt's own
# translations are read at run time too, for the dialogs Qt draws. The keyring
# library opens libsecret only when it runs, to reach the desktop's secret service.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, qt6-translations-l10n, libsecret-1-0")
include(CPack)
