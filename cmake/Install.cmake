# Installation: the shared library, the header, the command-line program with
# its man page and bash completion, a pkg-config file and a CMake package
# configuration with an imported target (find_package(zyk_out_pdfa) then link
# zyk_out_pdfa::zyk_out_pdfa).
include(CMakePackageConfigHelpers)

set(ZYK_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/zyk_out_pdfa")

install(TARGETS zyk_out_pdfa EXPORT zyk_out_pdfaTargets
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}"
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
if(TARGET zyk-pdfa)
  install(TARGETS zyk-pdfa RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
  # The man page's header names the version.
  configure_file("${PROJECT_SOURCE_DIR}/cli/zyk-pdfa.1.in" "${PROJECT_BINARY_DIR}/zyk-pdfa.1" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/zyk-pdfa.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
  install(FILES "${PROJECT_SOURCE_DIR}/cli/zyk-pdfa.bash" RENAME zyk-pdfa
    DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
endif()
install(FILES "${PROJECT_SOURCE_DIR}/include/zyk_out_pdfa.h" DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}")
install(EXPORT zyk_out_pdfaTargets NAMESPACE zyk_out_pdfa:: DESTINATION "${ZYK_CMAKE_DIR}")

configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/zyk_out_pdfaConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/zyk_out_pdfaConfig.cmake" INSTALL_DESTINATION "${ZYK_CMAKE_DIR}")
write_basic_package_version_file("${PROJECT_BINARY_DIR}/zyk_out_pdfaConfigVersion.cmake"
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${PROJECT_BINARY_DIR}/zyk_out_pdfaConfig.cmake" "${PROJECT_BINARY_DIR}/zyk_out_pdfaConfigVersion.cmake"
  DESTINATION "${ZYK_CMAKE_DIR}")

# The pkg-config file finds the prefix relative to itself, so an installed
# tree can be moved (or installed with --prefix) and still be found.
file(RELATIVE_PATH ZYK_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
configure_file("${PROJECT_SOURCE_DIR}/cmake/zyk_out_pdfa.pc.in" "${PROJECT_BINARY_DIR}/zyk_out_pdfa.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/zyk_out_pdfa.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# The Python package, into the site folder that python3 reads under the
# installation prefix (on Debian with /usr/local: lib/python3.X/dist-packages),
# so that `import zyk_out_pdfa` works after `cmake --install` with no
# variable. A generated _install.py gives the package the library folder as
# a path relative to itself, so it loads the library installed beside it,
# before any other copy, also under another --prefix. Set
# ZYK_PYTHON_INSTALL_DIR (relative to the prefix) to choose the folder, or
# to "" where no Python is found.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND AND NOT DEFINED ZYK_PYTHON_INSTALL_DIR)
  execute_process(
    COMMAND "${Python3_EXECUTABLE}" -c [=[
import os, site, sys, sysconfig
prefix = os.path.abspath(sys.argv[1])
dirs = [d for d in site.getsitepackages() if d.startswith(prefix + os.sep)]
d = dirs[0] if dirs else sysconfig.get_path("purelib", "posix_prefix", {"base": prefix, "platbase": prefix})
print(os.path.relpath(d, prefix), end="")
]=] "${CMAKE_INSTALL_PREFIX}"
    OUTPUT_VARIABLE zyk_py_site RESULT_VARIABLE zyk_py_result)
  if(NOT zyk_py_result EQUAL 0)
    set(zyk_py_site "")
  endif()
  set(ZYK_PYTHON_INSTALL_DIR "${zyk_py_site}" CACHE STRING
    "Where cmake --install puts the Python package, relative to the prefix (empty: not installed)")
endif()
if(ZYK_PYTHON_INSTALL_DIR)
  if(IS_ABSOLUTE "${ZYK_PYTHON_INSTALL_DIR}")
    message(FATAL_ERROR "ZYK_PYTHON_INSTALL_DIR is relative to the installation prefix: ${ZYK_PYTHON_INSTALL_DIR}")
  endif()
  set(zyk_py_dest "${ZYK_PYTHON_INSTALL_DIR}/zyk_out_pdfa")
  file(RELATIVE_PATH zyk_py_libdir "/root/${zyk_py_dest}" "/root/${CMAKE_INSTALL_LIBDIR}")
  file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/python/_install.py" CONTENT
    "# Written by the build: the installed library folder, relative to this package.\nLIBDIR_FROM_PACKAGE = \"${zyk_py_libdir}\"\n")
  file(GLOB zyk_py_files "${PROJECT_SOURCE_DIR}/python/zyk_out_pdfa/*.py" "${PROJECT_SOURCE_DIR}/python/zyk_out_pdfa/py.typed")
  install(FILES ${zyk_py_files} "${PROJECT_BINARY_DIR}/python/_install.py" DESTINATION "${zyk_py_dest}")
endif()
