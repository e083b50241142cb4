# The Debian package of gearvane-gui: `cmake --build --preset linux --target package-gui`
# writes gearvane-gui_<version>_<arch>.deb beside gearvane's own. Its files are an install
# component of their own, left out of a plain install, so gearvane's package never holds Qt
# or depends on it. Included from app/gui once the gearvane-gui target exists.
include(GNUInstallDirs)
set(gui_files ${PROJECT_SOURCE_DIR}/packaging/linux)
set(gui_out ${CMAKE_CURRENT_BINARY_DIR}/package)
set(gui_doc ${CMAKE_INSTALL_DATADIR}/doc/gearvane-gui)

# As for gearvane: the manual page and the changelog gzipped without a timestamp.
set(gui_gzipped)
foreach(gui_name gearvane-gui.1 changelog)
  add_custom_command(OUTPUT ${gui_out}/${gui_name}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${gui_out}
                     COMMAND ${CMAKE_COMMAND} -E copy ${gui_files}/${gui_name} ${gui_out}/${gui_name}
                     COMMAND gzip -9nf ${gui_out}/${gui_name}
                     DEPENDS ${gui_files}/${gui_name} VERBATIM)
  list(APPEND gui_gzipped ${gui_out}/${gui_name}.gz)
endforeach()
add_custom_target(gearvane_gui_gzipped ALL DEPENDS ${gui_gzipped})

install(TARGETS gearvane-gui RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gui EXCLUDE_FROM_ALL)
install(FILES ${gui_out}/gearvane-gui.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gui EXCLUDE_FROM_ALL)
install(FILES ${gui_files}/gearvane-gui.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT gui EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/resources/gearvane.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps COMPONENT gui EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/resources/gearvane.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT gui EXCLUDE_FROM_ALL)
install(FILES ${gui_out}/changelog.gz ${gui_files}/copyright DESTINATION ${gui_doc} COMPONENT gui EXCLUDE_FROM_ALL)

# A CPack configuration of its own, for the gui component alone.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/CPackConfig-gui.cmake @ONLY CONTENT [[
set(CPACK_GENERATOR DEB)
set(CPACK_CMAKE_GENERATOR "@CMAKE_GENERATOR@")
set(CPACK_INSTALL_CMAKE_PROJECTS "@CMAKE_BINARY_DIR@;gearvane;gui;/")
set(CPACK_PACKAGE_DIRECTORY "@CMAKE_BINARY_DIR@")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_NAME gearvane-gui)
set(CPACK_PACKAGE_VERSION @PROJECT_VERSION@)
set(CPACK_PACKAGE_FILE_NAME gearvane-gui)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "window and tray icon for gearvane, the H-pattern lever shifter")
set(CPACK_PACKAGE_DESCRIPTION "gearvane-gui is a desktop window for gearvane, which turns an H-pattern gear
lever into a racing game's sequential shift keys. It shows the lever and its
gear, the game's gear and the taps, lists the devices with their live buttons
so that the lever is easy to pick, learns a shifter's gates by asking for each
gear, and sets the gear count, hold and gap times and keys by clicking. It
talks to the running gearvane through its control socket, and offers to start
it. A tray icon sets the game's gear when the game was reset.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "@CPACK_DEBIAN_PACKAGE_MAINTAINER@")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The window drives nothing: the daemon of the same version does, and speaks its protocol.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gearvane (= @PROJECT_VERSION@)")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE "@CMAKE_BINARY_DIR@/cpack-deb-checks.cmake")
]])
add_custom_target(package-gui COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig-gui.cmake
                  WORKING_DIRECTORY ${CMAKE_BINARY_DIR} DEPENDS gearvane-gui gearvane_gui_gzipped VERBATIM)
