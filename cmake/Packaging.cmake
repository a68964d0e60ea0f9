# cmake --install: library, public header, qvtool, CMake package and pkg-config file.
include(CMakePackageConfigHelpers)

set(QV_INSTALL_TARGETS quivox3)
if(TARGET tinesim)
  list(APPEND QV_INSTALL_TARGETS tinesim)  # the stand-in is the TINE library of this build
endif()

install(TARGETS ${QV_INSTALL_TARGETS} EXPORT quivox3Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/quivox3/quivox3.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quivox3)
install(TARGETS qvtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(QV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quivox3)
install(EXPORT quivox3Targets NAMESPACE quivox3:: DESTINATION ${QV_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quivox3Config.cmake.in
  ${PROJECT_BINARY_DIR}/quivox3Config.cmake INSTALL_DESTINATION ${QV_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quivox3ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quivox3Config.cmake ${PROJECT_BINARY_DIR}/quivox3ConfigVersion.cmake
  DESTINATION ${QV_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/quivox3.pc.in ${PROJECT_BINARY_DIR}/quivox3.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quivox3.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
