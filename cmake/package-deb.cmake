# The Debian package of gearvane for Linux: `cmake --build --preset linux --target package`
# writes gearvane_<version>_<arch>.deb. Included once the gearvane target exists.
include(GNUInstallDirs)
cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH deb_root)
set(deb_files ${deb_root}/packaging/linux)
set(deb_doc ${CMAKE_INSTALL_DATADIR}/doc/gearvane)

# Debian ships the manual page and the changelog gzipped, without a timestamp so that
# builds are repeatable.
set(deb_gzipped)
foreach(deb_name gearvane.1 changelog)
  set(deb_copy ${CMAKE_CURRENT_BINARY_DIR}/${deb_name})
  add_custom_command(OUTPUT ${deb_copy}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${deb_files}/${deb_name} ${deb_copy}
                     COMMAND gzip -9nf ${deb_copy}
                     DEPENDS ${deb_files}/${deb_name} VERBATIM)
  list(APPEND deb_gzipped ${deb_copy}.gz)
endforeach()
add_custom_target(gearvane_gzipped ALL DEPENDS ${deb_gzipped})

install(TARGETS gearvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gearvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# udev reads only its own directories, whatever the prefix; Debian 12's udev uses /lib.
install(FILES ${deb_files}/60-gearvane.rules DESTINATION /lib/udev/rules.d)
# systemd --user reads both /usr/lib/systemd/user and /usr/local/lib/systemd/user.
install(FILES ${deb_files}/gearvane.service DESTINATION lib/systemd/user)
# Only an example: gearvane reads the user's file alone, never a system-wide one.
install(FILES ${deb_files}/gearvane.conf DESTINATION ${deb_doc}/examples)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${deb_doc})
# The control socket's protocol, for those who write a client of their own.
install(FILES ${PROJECT_SOURCE_DIR}/docs/control-protocol.md DESTINATION ${deb_doc})
if(EXISTS ${deb_files}/copyright)
  install(FILES ${deb_files}/copyright DESTINATION ${deb_doc})
endif()
install(FILES ${deb_files}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME gearvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gearvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "H-pattern gear lever to sequential shift keys for racing games")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "gearvane reads an H-pattern gear lever, a shifter seen as a joystick, through
evdev, and taps the game's sequential shift keys (Page Up and Page Down by
default) on a uinput virtual keyboard until the game is in the lever's gear.
It works for native games and for games under Wine or Proton, on X11 and
Wayland. It knows two legacy gate plates and user gate maps for shifters with
one button per gear; --learn finds a lever's map. A udev rule gives the
logged-in user /dev/uinput, and a systemd user unit runs it in the session.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "gearvane maintainers <maintainers@users.noreply.c-seed-1ce5c715.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends from the libraries the binary links (libevdev2, libc6, libstdc++6): dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${deb_files}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Without dpkg-shlibdeps CPack only says so and writes a .deb with no Depends: refuse.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/cpack-deb-checks.cmake [[
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(dpkg_shlibdeps dpkg-shlibdeps)
  if(NOT dpkg_shlibdeps)
    message(FATAL_ERROR "dpkg-shlibdeps is needed for the package's dependencies (Debian: dpkg-dev)")
  endif()
endif()
]])
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/cpack-deb-checks.cmake)
include(CPack)
