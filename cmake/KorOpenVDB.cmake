# Finds OpenVDB for the OpenVDB module, its tests and its benchmark, and
# defines the imported target kor::openvdb and KOR_OPENVDB_FOUND (included
# once, from KorDependencies.cmake).
#
# Debian's FindOpenVDB module insists on the boost_iostreams development
# files although nothing built here needs them, so the headers and the
# library are located directly, with the headers and libraries that OpenVDB's
# headers pull in: TBB, Imath (half) and Boost's headers.
# Marks a target that compiles OpenVDB code.
function(kor_openvdb_target target)
  target_link_libraries(${target} PRIVATE kor::openvdb)
  set_property(TARGET ${target} PROPERTY JOB_POOL_COMPILE kor_openvdb)
endfunction()
set(KOR_OPENVDB_FOUND OFF)
find_path(KOR_OPENVDB_INCLUDE_DIR openvdb/openvdb.h)
find_library(KOR_OPENVDB_LIBRARY openvdb)
find_path(KOR_BOOST_INCLUDE_DIR boost/version.hpp)
find_path(KOR_TBB_INCLUDE_DIR tbb/task_arena.h)
find_library(KOR_TBB_LIBRARY tbb)
find_path(KOR_IMATH_INCLUDE_DIR Imath/half.h)
find_library(KOR_IMATH_LIBRARY NAMES Imath Imath-3_1)
if(KOR_OPENVDB_INCLUDE_DIR AND KOR_OPENVDB_LIBRARY AND KOR_BOOST_INCLUDE_DIR AND KOR_TBB_INCLUDE_DIR
   AND KOR_TBB_LIBRARY AND KOR_IMATH_INCLUDE_DIR AND KOR_IMATH_LIBRARY)
  # Global, so that the benchmark directory sees it too; plain paths only,
  # since imported targets of other packages would stay local to this one.
  add_library(kor::openvdb INTERFACE IMPORTED GLOBAL)
  target_include_directories(kor::openvdb SYSTEM INTERFACE
    ${KOR_OPENVDB_INCLUDE_DIR} ${KOR_BOOST_INCLUDE_DIR} ${KOR_TBB_INCLUDE_DIR} ${KOR_IMATH_INCLUDE_DIR})
  target_link_libraries(kor::openvdb INTERFACE
    ${KOR_OPENVDB_LIBRARY} ${KOR_TBB_LIBRARY} ${KOR_IMATH_LIBRARY} Threads::Threads)
  set(KOR_OPENVDB_FOUND ON)
  # OpenVDB translation units are slow and memory-hungry: compile them one
  # at a time even in a parallel build (Ninja job pool).
  set_property(GLOBAL APPEND PROPERTY JOB_POOLS kor_openvdb=1)
  message(STATUS "OpenVDB: ${KOR_OPENVDB_LIBRARY}")
endif()
