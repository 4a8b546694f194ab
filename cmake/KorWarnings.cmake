# The project's own code builds without warnings on g++ and clang. Warnings
# turn into errors only when asked for (KOR_WERROR, on in scripts/test.sh and
# CI), so that a user's plain build never fails on a new compiler's warning.
option(KOR_WERROR "Turn compiler warnings into errors" OFF)
function(kor_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra $<$<BOOL:${KOR_WERROR}>:-Werror>)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # g++ 12 reports overlapping copies inside libstdc++'s own string code
    # when it inlines concatenations at -O2 and above (GCC bug 105329).
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
endfunction()
