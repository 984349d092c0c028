# Installation: the shared library, the header, the command-line program, a
# pkg-config file and a CMake package configuration with an imported target
# (find_package(zyk_out_pdfa) then link zyk_out_pdfa::zyk_out_pdfa).
include(CMakePackageConfigHelpers)

set(ZYK_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/zyk_out_pdfa")

install(TARGETS zyk_out_pdfa EXPORT zyk_out_pdfaTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
if(TARGET zyk-pdfa)
  install(TARGETS zyk-pdfa RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()
install(FILES "${CMAKE_SOURCE_DIR}/include/zyk_out_pdfa.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(EXPORT zyk_out_pdfaTargets NAMESPACE zyk_out_pdfa:: DESTINATION "${ZYK_CMAKE_DIR}")

configure_package_config_file("${CMAKE_SOURCE_DIR}/cmake/zyk_out_pdfaConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/zyk_out_pdfaConfig.cmake" INSTALL_DESTINATION "${ZYK_CMAKE_DIR}")
write_basic_package_version_file("${CMAKE_BINARY_DIR}/zyk_out_pdfaConfigVersion.cmake"
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/zyk_out_pdfaConfig.cmake" "${CMAKE_BINARY_DIR}/zyk_out_pdfaConfigVersion.cmake"
  DESTINATION "${ZYK_CMAKE_DIR}")

# The pkg-config file finds the prefix relative to itself, so an installed
# tree can be moved (or installed with --prefix) and still be found.
file(RELATIVE_PATH ZYK_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file("${CMAKE_SOURCE_DIR}/cmake/zyk_out_pdfa.pc.in" "${CMAKE_BINARY_DIR}/zyk_out_pdfa.pc" @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/zyk_out_pdfa.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
