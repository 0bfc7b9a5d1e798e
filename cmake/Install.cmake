# Installation of the library for application developers: the shared library
# with its SONAME links, the public header, a CMake package
# (find_package(ZXDisplayLib) -> ZXDisplayLib::zxdisplay, relocatable) and a
# pkg-config file (zxdisplay.pc, absolute paths of the prefix installed to),
# so `cmake --install build --prefix DIR` works for any DIR; and the licence.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZX_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZXDisplayLib)

install(TARGETS zxdisplay EXPORT ZXDisplayLibTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/zxdisplay.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ZXDisplayLibTargets NAMESPACE ZXDisplayLib:: DESTINATION ${ZX_CMAKE_PACKAGE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZXDisplayLibConfig.cmake.in
  ${CMAKE_BINARY_DIR}/cmake/ZXDisplayLibConfig.cmake
  INSTALL_DESTINATION ${ZX_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/cmake/ZXDisplayLibConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/cmake/ZXDisplayLibConfig.cmake
  ${CMAKE_BINARY_DIR}/cmake/ZXDisplayLibConfigVersion.cmake DESTINATION ${ZX_CMAKE_PACKAGE_DIR})

# zxdisplay.pc with clean absolute paths: written at install time, when the
# prefix (cmake --install --prefix) is known.
configure_file(${CMAKE_CURRENT_LIST_DIR}/WritePkgConfig.cmake.in ${CMAKE_BINARY_DIR}/cmake/WritePkgConfig.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/cmake/WritePkgConfig.cmake)
install(FILES ${CMAKE_BINARY_DIR}/cmake/zxdisplay.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
