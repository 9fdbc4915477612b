# What `cmake --install` puts where, and the Debian package CPack makes of it
# (`cpack --preset deb`, or scripts/package): moravelt and moravelt-cli, the desktop entry,
# the icon at the usual sizes and the file types, registered by the package's triggers.
include(GNUInstallDirs)

if(TARGET moravelt AND NOT WIN32)
  install(TARGETS moravelt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET moravelt-cli)
  install(TARGETS moravelt-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(UNIX AND NOT APPLE)
  install(FILES ${PROJECT_SOURCE_DIR}/res/linux/moravelt.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/res/linux/moravelt.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
  file(GLOB MORAVELT_PACKAGE_ICONS ${PROJECT_SOURCE_DIR}/res/icons/moravelt-*.png)
  foreach(icon ${MORAVELT_PACKAGE_ICONS})
    string(REGEX REPLACE ".*moravelt-([0-9]+)\\.png$" "\\1" size ${icon})
    install(FILES ${icon} RENAME moravelt.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

set(CPACK_PACKAGE_NAME moravelt)
set(CPACK_PACKAGE_VENDOR "Moravelt")
set(CPACK_PACKAGE_CONTACT "Moravelt developers <moravelt@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "PlayStation 2 saves and memory cards: open, convert, edit")
set(CPACK_PACKAGE_DESCRIPTION
    "Moravelt opens PlayStation 2 saves kept as files on a PC (.psu, .xps/.sps, .max/.pws,\n.cbs, .psv) and PS2 memory cards, shows what a save holds, edits it a little and writes\nit in another family or onto a card. moravelt is the desktop program, moravelt-cli the\ncommand-line tool.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries come from dpkg-shlibdeps; Qt's platform plugins (the window system) are
# loaded at run time, so no library names them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET moravelt)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
include(CPack)
