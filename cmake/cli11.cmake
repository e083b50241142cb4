# CLI11 is header-only: Debian's libcli11-dev serves the host and the cross build alike. The
# cross build looks for headers only under the MinGW root, so it gets a folder of its own
# that holds just a link to CLI/, rather than all of /usr/include.
find_path(CLI11_HOST_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT CLI11_HOST_INCLUDE)
  message(FATAL_ERROR "CLI11's headers are needed (Debian: libcli11-dev)")
endif()
if(CMAKE_CROSSCOMPILING)
  set(CLI11_INCLUDE_DIR ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${CLI11_INCLUDE_DIR})
  file(CREATE_LINK ${CLI11_HOST_INCLUDE}/CLI ${CLI11_INCLUDE_DIR}/CLI SYMBOLIC)
else()
  set(CLI11_INCLUDE_DIR ${CLI11_HOST_INCLUDE})
endif()
