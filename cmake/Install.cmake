# What `cmake --install` puts under the prefix: the programs with their manual pages and bash
# completion, and the library jx with its headers, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS ${JX_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${JX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
foreach(program ${JX_PROGRAMS})
  install(FILES completion/jx.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME ${program})
endforeach()

install(TARGETS jx EXPORT jxTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${JX_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/jx)

# find_package(jx CONFIG) gives jx::jx.
set(JX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/jx)
install(EXPORT jxTargets NAMESPACE jx:: DESTINATION ${JX_CMAKE_DIR})
configure_package_config_file(cmake/jxConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/jxConfig.cmake
  INSTALL_DESTINATION ${JX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/jxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/jxConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/jxConfigVersion.cmake DESTINATION ${JX_CMAKE_DIR})

# pkg-config: the paths are relative to the file itself, so `cmake --install --prefix` may
# choose any prefix. Every link against a static jx needs ICU; a shared one needs it only
# when linked statically.
set(JX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH JX_PKGCONFIG_TO_PREFIX /prefix/${JX_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" JX_PKGCONFIG_TO_PREFIX "${JX_PKGCONFIG_TO_PREFIX}")
if(BUILD_SHARED_LIBS)
  set(JX_PKGCONFIG_REQUIRES "Requires.private: icu-uc >= ${JX_ICU_VERSION}")
else()
  set(JX_PKGCONFIG_REQUIRES "Requires: icu-uc >= ${JX_ICU_VERSION}")
endif()
configure_file(cmake/jx.pc.in ${CMAKE_CURRENT_BINARY_DIR}/jx.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/jx.pc DESTINATION ${JX_PKGCONFIG_DIR})
