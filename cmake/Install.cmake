# cmake --install: headers, the library, a pkg-config file, a CMake
# package (find_package(KOBLIB), target KOBLIB::KOBLIB) and, on Linux, the
# udev rule that opens the transceiver's hidraw node to the logged-in user.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS KOBLIB EXPORT KOBLIBTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/koblib.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# KOBLIB_CODES, the IR code library beside it (KOBLIB::KOBLIB_CODES).
install(TARGETS KOBLIB_CODES EXPORT KOBLIBTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/koblib_codes.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS KOBLIB_EXAMPLE RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT KOBLIBTargets NAMESPACE KOBLIB:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/KOBLIB)

configure_package_config_file(cmake/install/KOBLIBConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KOBLIBConfig.cmake INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/KOBLIB)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KOBLIBConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KOBLIBConfig.cmake ${CMAKE_BINARY_DIR}/KOBLIBConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/KOBLIB)

# The .pc file finds its prefix relative to itself, so that the tree can
# be installed anywhere (cmake --install --prefix).
file(RELATIVE_PATH KOBLIB_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/install/koblib.pc.in ${CMAKE_BINARY_DIR}/koblib.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/koblib.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(NOT WIN32)
  set(KOBLIB_UDEV_RULES_DIR lib/udev/rules.d CACHE PATH "Where the udev rule goes (under the prefix)")
  install(FILES cmake/install/70-kob1.rules DESTINATION ${KOBLIB_UDEV_RULES_DIR})
endif()
