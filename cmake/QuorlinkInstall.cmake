# Installs the library, its public headers (under include/quorlink/, so that
# programs include <quorlink/core/Application.h> with -I<prefix>/include), a
# CMake package (find_package(quorlink), target quorlink::quorlink), a
# pkg-config file, the program and the licence.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORLINK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorlink)

install(TARGETS quorlink EXPORT quorlinkTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The build's own OS vocabulary (include/posix or include/windows) lands
# beside the rest, where <quorlink/platform/os/Types.h> finds it.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/quorlink ${QUORLINK_GENERATED_INCLUDE}/quorlink
  ${QUORLINK_OS_INCLUDE}/quorlink
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(EXPORT quorlinkTargets NAMESPACE quorlink:: DESTINATION ${QUORLINK_INSTALL_CMAKEDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorlinkConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorlinkConfig.cmake
  INSTALL_DESTINATION ${QUORLINK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorlinkConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorlinkConfig.cmake
  ${PROJECT_BINARY_DIR}/quorlinkConfigVersion.cmake
  DESTINATION ${QUORLINK_INSTALL_CMAKEDIR})

# The .pc file finds its prefix from its own place, so that
# `cmake --install --prefix DIR` gives a usable file.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUORLINK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _quorlink_up "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  string(REGEX REPLACE "/$" "" _quorlink_up "${_quorlink_up}")
  set(QUORLINK_PC_PREFIX "\${pcfiledir}/${_quorlink_up}")
endif()
set(QUORLINK_PC_REQUIRES_PRIVATE "")
if(QUORLINK_BLUEZ_BUILT)
  set(QUORLINK_PC_REQUIRES_PRIVATE "Requires.private: libsystemd\n")
endif()
# The definitions and system libraries the CMake target carries (Windows:
# WIN32_LEAN_AND_MEAN, NOMINMAX, ws2_32 ...).
set(QUORLINK_PC_CFLAGS "")
foreach(definition ${QUORLINK_OS_DEFINITIONS})
  string(APPEND QUORLINK_PC_CFLAGS " -D${definition}")
endforeach()
set(QUORLINK_PC_LIBS_PRIVATE "")
foreach(library ${QUORLINK_OS_LIBRARIES})
  string(APPEND QUORLINK_PC_LIBS_PRIVATE " -l${library}")
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorlink.pc.in ${PROJECT_BINARY_DIR}/quorlink.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorlink.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET quorlink_cli)
  install(TARGETS quorlink_cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorlink)
