# What `cmake --install` puts under the prefix, in three components that
# become the .deb packages (cmake/package.cmake): the libraries, the files to
# build against libmz, and the programs. Tests, tools and benchmarks stay in
# the build folder.
include(CMakePackageConfigHelpers)

# Installed programs find the libraries under their own prefix, wherever it
# is; libmz finds the platform beside itself.
file(RELATIVE_PATH mz_bin_to_lib
  ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH mz_bin_to_data
  ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/mz)
set_target_properties(mzhost phonectl PROPERTIES INSTALL_RPATH "$ORIGIN/${mz_bin_to_lib}")
set_target_properties(mz PROPERTIES INSTALL_RPATH "$ORIGIN")
# mzhost loads libmz.so found beside it in the build folder; installed, the
# library is under the prefix, and so are the tour's sample contacts.
target_compile_definitions(hostsupport PRIVATE
  MZHOST_INSTALLED_LIBRARY="${mz_bin_to_lib}/$<TARGET_SONAME_FILE_NAME:mz>")
target_compile_definitions(mzhost PRIVATE MZHOST_INSTALLED_EXAMPLES="${mz_bin_to_data}")

target_include_directories(mz INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS mz EXPORT mzTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
    NAMELINK_COMPONENT development)
# Only libmz links the platform: no link-time name for it.
install(TARGETS phoneplatform
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_SKIP)
install(TARGETS mzhost phonectl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT programs)
install(FILES ${PROJECT_SOURCE_DIR}/examples/contacts.vcf
  ${PROJECT_SOURCE_DIR}/examples/contact-update.vcf
  DESTINATION ${CMAKE_INSTALL_DATADIR}/mz COMPONENT programs)

install(FILES ${PROJECT_SOURCE_DIR}/include/mz/mz.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/mz COMPONENT development)

# pkg-config: the prefix is where mz.pc lies, so the file holds wherever the
# tree is installed (cmake --install --prefix, or the packages' /usr).
file(RELATIVE_PATH mz_pc_to_prefix
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" mz_pc_to_prefix "${mz_pc_to_prefix}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/mz.pc.in ${PROJECT_BINARY_DIR}/mz.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/mz.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# find_package(mz 1.0): the imported target mz::mz.
set(mz_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/mz)
install(EXPORT mzTargets NAMESPACE mz:: DESTINATION ${mz_cmake_dir} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/mzConfig.cmake.in
  ${PROJECT_BINARY_DIR}/mzConfig.cmake INSTALL_DESTINATION ${mz_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/mzConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/mzConfig.cmake ${PROJECT_BINARY_DIR}/mzConfigVersion.cmake
  DESTINATION ${mz_cmake_dir} COMPONENT development)

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
