# The tarball of gearvane for Linux, for a user install without root (any distribution,
# SteamOS included): `cmake --build --preset linux --target tarball` writes
# gearvane-<version>-linux-<arch>.tar.gz. Included once gearvane_portable exists; at build
# time the same file runs as a script (cmake -P) that stages the files and packs them.
if(NOT CMAKE_SCRIPT_MODE_FILE)
  set(tarball_name gearvane-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(tarball_files ${PROJECT_SOURCE_DIR}/packaging/linux/install.sh ${PROJECT_SOURCE_DIR}/packaging/linux/gearvane.1
                    ${PROJECT_SOURCE_DIR}/packaging/linux/gearvane.service ${PROJECT_SOURCE_DIR}/packaging/linux/gearvane.conf
                    ${PROJECT_SOURCE_DIR}/packaging/linux/60-gearvane.rules ${PROJECT_SOURCE_DIR}/LICENSE)
  # libevdev is linked in, so its licence goes along; Debian keeps it here.
  set(tarball_libevdev_licence /usr/share/doc/libevdev-dev/copyright)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${tarball_name}.tar.gz
                     COMMAND ${CMAKE_COMMAND} -DNAME=${tarball_name} -DOUT=${CMAKE_BINARY_DIR}
                             -DPROGRAM=$<TARGET_FILE:gearvane_portable> -DSTRIP=${CMAKE_STRIP}
                             "-DFILES=${tarball_files}" -DLIBEVDEV_LICENCE=${tarball_libevdev_licence}
                             -P ${CMAKE_CURRENT_LIST_FILE}
                     DEPENDS gearvane_portable ${tarball_files} ${CMAKE_CURRENT_LIST_FILE} VERBATIM)
  add_custom_target(tarball DEPENDS ${CMAKE_BINARY_DIR}/${tarball_name}.tar.gz)
  return()
endif()

if(NOT EXISTS ${LIBEVDEV_LICENCE})
  message(FATAL_ERROR "${LIBEVDEV_LICENCE} is missing: the tarball must carry libevdev's licence (Debian: libevdev-dev)")
endif()
set(stage ${OUT}/tarball/${NAME})
file(REMOVE_RECURSE ${OUT}/tarball)
file(MAKE_DIRECTORY ${stage})
file(COPY ${PROGRAM} ${FILES} DESTINATION ${stage} NO_SOURCE_PERMISSIONS)
configure_file(${LIBEVDEV_LICENCE} ${stage}/LICENSE.libevdev COPYONLY)
execute_process(COMMAND ${STRIP} ${stage}/gearvane COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD ${stage}/gearvane ${stage}/install.sh PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
     GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(GLOB staged RELATIVE ${OUT}/tarball ${stage}/*)
list(SORT staged)
# A fixed time and order, so that the same sources give the same tarball.
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${OUT}/${NAME}.tar.gz --format=gnutar
                        "--mtime=2026-01-01 00:00:00 UTC" ${staged}
                WORKING_DIRECTORY ${OUT}/tarball COMMAND_ERROR_IS_FATAL ANY)
