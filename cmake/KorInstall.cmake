# Installation in the GNUInstallDirs layout, in components that become
# the Debian packages (KorPackaging.cmake):
#   runtime  libkorloader.so.<major> (korloader.dll), README and licence
#   dev      the public header, the plug-in SDK, libkorloader.so, the CMake
#            package and the pkg-config file
#   tools    korinfo and the other tools, and the import modules
#   python   the Python package korloader (python/CMakeLists.txt)
include(CMakePackageConfigHelpers)

set(KOR_CMAKE_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/korloader")

install(TARGETS korloader EXPORT korloaderTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT dev)
install(FILES "${PROJECT_SOURCE_DIR}/include/korloader/korloader.h"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/korloader" COMPONENT dev)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}" COMPONENT runtime)

if(WIN32)
  # The import library for hosts built with the Microsoft compiler.
  install(FILES "${PROJECT_BINARY_DIR}/korloader/korloader.lib"
    DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT dev)
else()
  # The plug-in SDK: its headers keep their paths below include/korloader/sdk.
  install(TARGETS korloader_plugin_sdk EXPORT korloaderTargets
    ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT dev)
  foreach(header IN LISTS KOR_PLUGIN_SDK_HEADERS)
    get_filename_component(header_dir "${header}" DIRECTORY)
    install(FILES "${PROJECT_SOURCE_DIR}/korloader/${header}"
      DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/korloader/sdk/${header_dir}" COMPONENT dev)
  endforeach()
endif()

install(EXPORT korloaderTargets NAMESPACE korloader::
  DESTINATION "${KOR_CMAKE_INSTALL_DIR}" COMPONENT dev)
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/templates/korloaderConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/korloaderConfig.cmake"
  INSTALL_DESTINATION "${KOR_CMAKE_INSTALL_DIR}"
  PATH_VARS KOR_MODULE_INSTALL_DIR)
write_basic_package_version_file("${PROJECT_BINARY_DIR}/korloaderConfigVersion.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/korloaderConfig.cmake" "${PROJECT_BINARY_DIR}/korloaderConfigVersion.cmake"
  DESTINATION "${KOR_CMAKE_INSTALL_DIR}" COMPONENT dev)

# pkg-config: paths relative to the .pc file itself, so the tree can move.
set(KOR_PKGCONFIG_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
file(RELATIVE_PATH KOR_PKGCONFIG_TO_PREFIX
  "${CMAKE_INSTALL_PREFIX}/${KOR_PKGCONFIG_INSTALL_DIR}" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" KOR_PKGCONFIG_TO_PREFIX "${KOR_PKGCONFIG_TO_PREFIX}")
configure_file("${PROJECT_SOURCE_DIR}/cmake/templates/korloader.pc.in"
  "${PROJECT_BINARY_DIR}/korloader.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/korloader.pc"
  DESTINATION "${KOR_PKGCONFIG_INSTALL_DIR}" COMPONENT dev)

# The example host's sources, for the -dev package's users.
install(DIRECTORY "${PROJECT_SOURCE_DIR}/examples/"
  DESTINATION "${CMAKE_INSTALL_DOCDIR}/examples" COMPONENT dev)
