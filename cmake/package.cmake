# `make package`: one .deb per install component (cmake/install.cmake).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libmz)
set(CPACK_PACKAGE_VENDOR "libmz developers")
set(CPACK_PACKAGE_CONTACT "libmz developers <libmz@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "phone contacts, SMS messages and settings through 19 C functions")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development programs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libmz${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libmz-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME mz-tools)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
# The development files and the programs need the libraries of this very
# version (a component's DEPENDS becomes "libmz1 (= VERSION)").
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# What the libraries need from the system, SQLite above all: read from the
# binaries when dpkg-shlibdeps is there, else named.
find_program(MZ_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(MZ_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  # phonectl's libphoneplatform is in libmz1, not yet installed: found in
  # the build folder, and depended on through the component's DEPENDS.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/bin)
else()
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS "libc6, libstdc++6, libsqlite3-0")
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()

include(CPack)
cpack_add_component(library DISPLAY_NAME "libmz and the emulated phone platform"
  DESCRIPTION "The shared libraries libmz and libphoneplatform.")
cpack_add_component(development DISPLAY_NAME "libmz development files" DEPENDS library
  DESCRIPTION "The C header, pkg-config file and CMake package to build against libmz.")
cpack_add_component(programs DISPLAY_NAME "mzhost and phonectl" DEPENDS library
  DESCRIPTION "mzhost, a host that drives the library from a shell, and phonectl, the emulated phone's control tool.")
