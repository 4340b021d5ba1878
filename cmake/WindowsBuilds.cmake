# Nested cross builds of the same sources for Windows, driven from the
# Linux build so that one `cmake --build` and one `ctest` cover both.
include(ExternalProject)

find_program(KOBLIB_MINGW_I686 i686-w64-mingw32-g++-posix)
find_program(KOBLIB_MINGW_X64 x86_64-w64-mingw32-g++-posix)
if(NOT KOBLIB_MINGW_I686 OR NOT KOBLIB_MINGW_X64)
  message(STATUS "MinGW-w64 (posix) not found: no Windows builds; their tests are skipped")
  return()
endif()

foreach(arch i686 x86_64)
  ExternalProject_Add(windows-${arch}
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows-${arch}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-${arch}.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DKOBLIB_BUILD_BENCH=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> -j2
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
endforeach()
# One heavy build at a time on small machines.
add_dependencies(windows-x86_64 windows-i686)

set(KOBLIB_WIN_I686_DIR ${CMAKE_BINARY_DIR}/windows-i686 CACHE INTERNAL "")
set(KOBLIB_WIN_X64_DIR ${CMAKE_BINARY_DIR}/windows-x86_64 CACHE INTERNAL "")
