# Installation: the library, the exported headers, a CMake package (find_package(Ox),
# target Ox::Core) and a pkg-config file (oxcore.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS oxcore EXPORT OxTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ox DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(OX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Ox)
install(EXPORT OxTargets NAMESPACE Ox:: DESTINATION ${OX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OxConfig.cmake.in
  ${CMAKE_BINARY_DIR}/OxConfig.cmake INSTALL_DESTINATION ${OX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/OxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/OxConfig.cmake ${CMAKE_BINARY_DIR}/OxConfigVersion.cmake
        DESTINATION ${OX_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/oxcore.pc.in ${CMAKE_BINARY_DIR}/oxcore.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/oxcore.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
