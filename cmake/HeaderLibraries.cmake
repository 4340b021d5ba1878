# The header-only libraries (nlohmann-json, CLI11) as one target each for
# every build: natively the Debian package's own target; in a cross build
# for Windows a copy of the build machine's headers alone (only their
# include folder is taken: the cross compiler never sees /usr/include).
#   koblib_header_library(koblib_json nlohmann/json.hpp nlohmann_json nlohmann_json::nlohmann_json)
# defines the INTERFACE target koblib_json and sets koblib_json_FOUND.
function(koblib_header_library name header package package_target)
  if(TARGET ${name})
    set(${name}_FOUND TRUE PARENT_SCOPE)
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    find_package(${package} CONFIG QUIET)
    if(TARGET ${package_target})
      add_library(${name} INTERFACE)
      target_link_libraries(${name} INTERFACE ${package_target})
      set(${name}_FOUND TRUE PARENT_SCOPE)
    endif()
    return()
  endif()
  find_path(KOBLIB_HOST_${name}_DIR ${header} PATHS /usr/include /usr/local/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KOBLIB_HOST_${name}_DIR)
    return()
  endif()
  get_filename_component(folder ${header} DIRECTORY)
  set(staged ${CMAKE_BINARY_DIR}/host-include)
  file(COPY ${KOBLIB_HOST_${name}_DIR}/${folder} DESTINATION ${staged})
  add_library(${name} INTERFACE)
  target_include_directories(${name} SYSTEM INTERFACE ${staged})
  set(${name}_FOUND TRUE PARENT_SCOPE)
endfunction()
