# Optional dependencies. A missing one switches its part off with one message
# naming the Debian package that brings it; it is never a configure error.
function(kor_missing what package consequence)
  message(WARNING "${what} not found (Debian package ${package}): ${consequence}")
endfunction()

# GoogleTest for the tests. No GoogleTest for the target system is installed
# when cross-compiling: it is then built from the sources that Debian's
# googletest package ships.
set(KOR_GTEST_FOUND OFF)
if(KOR_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    set(KOR_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, built along when cross-compiling")
    if(EXISTS "${KOR_GTEST_SOURCE_DIR}/CMakeLists.txt")
      set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
      set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
      add_subdirectory(${KOR_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
      set(KOR_GTEST_FOUND ON)
    endif()
  else()
    find_package(GTest QUIET)
    if(TARGET GTest::gtest AND TARGET GTest::gtest_main)
      set(KOR_GTEST_FOUND ON)
    endif()
  endif()
  if(NOT KOR_GTEST_FOUND)
    kor_missing(GoogleTest "googletest, libgtest-dev" "the tests are not built")
  endif()
endif()

# Google Benchmark for the benchmark programs.
set(KOR_BENCHMARK_FOUND OFF)
if(KOR_BUILD_BENCH)
  find_package(benchmark QUIET)
  if(TARGET benchmark::benchmark)
    set(KOR_BENCHMARK_FOUND ON)
  else()
    kor_missing("Google Benchmark" libbenchmark-dev "the benchmarks are not built")
  endif()
endif()

# HDF5 (the Field3D module's HDF5 encoding) and OpenVDB (the OpenVDB module
# and kor2vdb) are looked up once, here. They are built on Linux only: a
# cross build must not pick up the build machine's libraries.
set(KOR_HDF5_FOUND OFF)
set(KOR_OPENVDB_FOUND OFF)
if(NOT WIN32 AND (KOR_BUILD_PLUGINS OR KOR_BUILD_TOOLS OR KOR_BUILD_TESTS OR KOR_BUILD_BENCH OR KOR_BUILD_FUZZ))
  find_package(HDF5 QUIET COMPONENTS C)
  if(TARGET HDF5::HDF5)
    set(KOR_HDF5_FOUND ON)
  else()
    kor_missing(HDF5 libhdf5-dev "the Field3D module and its tests are not built")
  endif()
  include(${PROJECT_SOURCE_DIR}/cmake/KorOpenVDB.cmake)
  if(NOT KOR_OPENVDB_FOUND)
    kor_missing(OpenVDB "libopenvdb-dev, libboost-dev" "the OpenVDB module, kor2vdb, their tests and benchmarks are not built")
  endif()
endif()

# libpng for korinfo's preview pictures (--png). The mingw-w64 cross build
# has none: its korinfo says that --png is not available.
set(KOR_PNG_FOUND OFF)
if(KOR_BUILD_TOOLS)
  find_package(PNG QUIET)
  if(TARGET PNG::PNG)
    set(KOR_PNG_FOUND ON)
  elseif(CMAKE_CROSSCOMPILING)
    message(STATUS "libpng not found for the target system: korinfo is built without preview pictures (--png)")
  else()
    kor_missing(libpng libpng-dev "korinfo is built without preview pictures (--png)")
  endif()
endif()

# The Python module: the system's Python 3 (the one Debian's python3-numpy
# and the python3-korloader package serve; -DPython3_EXECUTABLE=... picks
# another), its headers, pybind11 and numpy; pytest for its tests. Linux only.
set(KOR_PYTHON_FOUND OFF)
set(KOR_PYTEST_FOUND OFF)
# ON in `var` when the Python found imports `module`.
function(kor_python_imports module var)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import ${module}"
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(failed)
    set(${var} OFF PARENT_SCOPE)
  else()
    set(${var} ON PARENT_SCOPE)
  endif()
endfunction()
if(KOR_BUILD_PYTHON AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  if(NOT Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
    set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "The Python the module is built for")
  endif()
  # The embedded interpreter is for the module's benchmark only.
  find_package(Python3 QUIET COMPONENTS Interpreter Development.Module OPTIONAL_COMPONENTS Development.Embed)
  if(Python3_FOUND)
    find_package(pybind11 CONFIG QUIET)
  endif()
  if(NOT Python3_FOUND)
    kor_missing("Python 3 headers" python3-dev "the Python module is not built")
  elseif(NOT pybind11_FOUND)
    kor_missing(pybind11 pybind11-dev "the Python module is not built")
  else()
    kor_python_imports(numpy KOR_PYTHON_FOUND)
    if(NOT KOR_PYTHON_FOUND)
      kor_missing("numpy for ${Python3_EXECUTABLE}" python3-numpy "the Python module is not built")
    elseif(KOR_BUILD_TESTS)
      kor_python_imports(pytest KOR_PYTEST_FOUND)
      if(NOT KOR_PYTEST_FOUND)
        kor_missing("pytest for ${Python3_EXECUTABLE}" python3-pytest "the Python module's tests are not run")
      endif()
    endif()
  endif()
endif()
