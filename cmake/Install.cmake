# Installation of the library for application developers: the shared library
# with its SONAME links, the public header, a CMake package
# (find_package(ZXDisplayLib) -> ZXDisplayLib::zxdisplay) and a pkg-config
# file (zxdisplay.pc). Both package files are relocatable, so
# `cmake --install build --prefix DIR` works for any DIR.
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

file(RELATIVE_PATH ZX_PC_PREFIX_FROM_PCDIR /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
string(REGEX REPLACE "/$" "" ZX_PC_PREFIX_FROM_PCDIR "${ZX_PC_PREFIX_FROM_PCDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/zxdisplay.pc.in ${CMAKE_BINARY_DIR}/cmake/zxdisplay.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/cmake/zxdisplay.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
