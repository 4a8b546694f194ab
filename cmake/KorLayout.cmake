# Where things go, in the build tree and when installed. The build tree has
# the installed layout (bin/, lib/..., lib/.../korloader/), so that a tool
# finds the import modules at the same place relative to itself in both.
#
# Import modules follow one naming rule, <base>_<suffix> in one directory,
# which is what initalizeKoraLoader(directory, suffix, ...) looks for; the
# suffix names the module interface's major version.
set(KOR_MODULE_SUFFIX "kor${PROJECT_VERSION_MAJOR}" CACHE STRING
  "Suffix of the import modules' file names (vdbplug_<suffix>, f3dplug_<suffix>)")
set(KOR_MODULE_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/korloader")
set(KOR_MODULE_BUILD_DIR "${PROJECT_BINARY_DIR}/${KOR_MODULE_INSTALL_DIR}")
# The module directory as seen from the tools' directory.
file(RELATIVE_PATH KOR_MODULE_DIR_FROM_BIN
  "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}" "${CMAKE_INSTALL_PREFIX}/${KOR_MODULE_INSTALL_DIR}")

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_BINDIR}")
if(NOT WIN32)
  set(CMAKE_LIBRARY_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR}")
endif()

# Makes `target` an import module named <base>_<suffix> in the module
# directory, built against the plug-in SDK, and installs it with the tools.
function(kor_import_module target base)
  target_link_libraries(${target} PRIVATE korloader_plugin_sdk)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME "${base}_${KOR_MODULE_SUFFIX}"
    LIBRARY_OUTPUT_DIRECTORY "${KOR_MODULE_BUILD_DIR}")
  install(TARGETS ${target} LIBRARY DESTINATION "${KOR_MODULE_INSTALL_DIR}" COMPONENT tools)
endfunction()

# A test or benchmark that loads the built import modules: it is told their
# directory and suffix (KOR_MODULE_DIR, KOR_MODULE_SUFFIX) and built after them.
function(kor_uses_modules target)
  target_compile_definitions(${target} PRIVATE
    KOR_MODULE_DIR="${KOR_MODULE_BUILD_DIR}" KOR_MODULE_SUFFIX="${KOR_MODULE_SUFFIX}")
  add_dependencies(${target} ${ARGN})
endfunction()
