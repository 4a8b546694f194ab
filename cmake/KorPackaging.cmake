# Packages made with CPack from the install components (KorInstall.cmake).
#
# Linux: `cpack -G DEB` in a build configured with -DCMAKE_INSTALL_PREFIX=/usr
# makes Debian packages:
#   libkorloader<major>   the shared library (named after its SONAME)
#   libkorloader-dev      header, plug-in SDK, CMake and pkg-config files
#   korloader-tools       the tools and the import modules
#   python3-korloader     the Python package (when the module is built)
# Dependencies on other packages (zlib, OpenVDB, HDF5, ...) are found by
# dpkg-shlibdeps from the files' own needs.
#
# Windows (the mingw-w64 cross build): `cpack -G ZIP` makes one zip with
# korloader.dll, korloader.lib, the header and korinfo.exe.
set(CPACK_PACKAGE_NAME korloader)
set(CPACK_PACKAGE_VENDOR "The korloader developers")
set(CPACK_PACKAGE_CONTACT "The korloader developers <korloader@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "korloader-${PROJECT_VERSION}-win64")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR}")
  set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
  # The runtime package carries a shlibs file and runs ldconfig (Debian policy).
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "libkorloader${PROJECT_VERSION_MAJOR}")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "korloader shared library: reads fluid simulation cache frames")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkorloader-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_COMPONENT_DEV_DESCRIPTION "korloader development files: header, plug-in SDK, CMake and pkg-config files")
  set(CPACK_COMPONENT_DEV_DEPENDS runtime)

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME korloader-tools)
  set(CPACK_COMPONENT_TOOLS_DESCRIPTION "korloader tools (korinfo) and the OpenVDB and Field3D import modules")
  set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

  # The extension holds the library itself (python/CMakeLists.txt says
  # why); the import modules it loads come with korloader-tools.
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-korloader)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION "korloader for Python 3: cache frames and particle groups as numpy arrays")
  if(KOR_PYTHON_FOUND)
    math(EXPR kor_python_next_minor "${Python3_VERSION_MINOR} + 1")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${kor_python_next_minor}), python3-numpy")
  endif()
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS korloader-tools)
endif()
include(CPack)
