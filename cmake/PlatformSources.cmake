# koblib_platform_sources(<target> [stem...] [OPTIONAL stem...])
# Adds this system's file of each stem to the target's private sources:
# <stem>_win32 on Windows; <stem>_linux, else <stem>_posix, on Linux (a
# .cpp or a .c file; a relative stem is taken from the current source
# directory). A stem after OPTIONAL may have no file for this system (a
# piece only one system has); any other stem without one is an error.
if(WIN32)
  set(KOBLIB_PLATFORM_SUFFIXES win32)
else()
  set(KOBLIB_PLATFORM_SUFFIXES linux posix)
endif()

function(koblib_platform_sources target)
  cmake_parse_arguments(P "" "" "OPTIONAL" ${ARGN})
  foreach(stem IN LISTS P_UNPARSED_ARGUMENTS P_OPTIONAL)
    cmake_path(ABSOLUTE_PATH stem BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} OUTPUT_VARIABLE base)
    set(found "")
    foreach(suffix IN LISTS KOBLIB_PLATFORM_SUFFIXES)
      foreach(extension cpp c)
        if(NOT found AND EXISTS ${base}_${suffix}.${extension})
          set(found ${base}_${suffix}.${extension})
        endif()
      endforeach()
    endforeach()
    if(found)
      target_sources(${target} PRIVATE ${found})
    elseif(NOT stem IN_LIST P_OPTIONAL)
      message(FATAL_ERROR "${target}: no ${stem} file for this system (${KOBLIB_PLATFORM_SUFFIXES})")
    endif()
  endforeach()
endfunction()
