# What `cmake --install` puts in place, and the package CPack makes of it.
# Natively a Debian package: the tool, libvesk.so, the headers, what a host's
# find_package(vesk) and pkg-config read, vesk(1) and the fleet watcher's
# systemd unit; the debugging information goes in its -dbgsym package.
# On Windows a zip: vesk.exe, vesk.dll, the headers and a README; the
# debugging information goes to build/windows/debug (scripts/package.sh
# zips it apart).
include(CMakePackageConfigHelpers)

# Packaging builds what it installs (scripts/package.sh), not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VESK_LIBRARY_NAME ${CMAKE_SHARED_LIBRARY_PREFIX}vesk${CMAKE_SHARED_LIBRARY_SUFFIX})
set_target_properties(vesk_headers PROPERTIES EXPORT_NAME headers)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/vesk ${PROJECT_BINARY_DIR}/include/vesk
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(CPACK_PACKAGE_NAME vesk)
set(CPACK_PACKAGE_VENDOR Halvorn)
set(CPACK_PACKAGE_CONTACT "Halvorn vesk maintainers <vesk@halvorn.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "settings of the Orvane server's processes: library and vesk tool")
set(CPACK_PACKAGE_DESCRIPTION
  "The library hosts load at run time to read and write their settings, its headers, and the operators' vesk tool (get, set, export, import, fleet).")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  # Flat, as a host deploys it: the DLL beside the program that loads it.
  install(PROGRAMS $<TARGET_FILE:vesk_tool> $<TARGET_FILE:vesk> DESTINATION .)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/package/README-windows.txt ${PROJECT_BINARY_DIR}/README.txt
    @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION .)
  # The debug zip unpacks into the same folder as the zip, beside the binaries.
  set(CPACK_PACKAGE_FILE_NAME vesk-${PROJECT_VERSION}-win64)
  install(CODE "set(VESK_OBJCOPY [[${CMAKE_OBJCOPY}]])
    set(VESK_DEBUG_DIR [[${PROJECT_BINARY_DIR}/debug/${CPACK_PACKAGE_FILE_NAME}]])
    set(VESK_SPLIT_FILES $<TARGET_FILE_NAME:vesk_tool> $<TARGET_FILE_NAME:vesk>)")
  install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/package/SplitDebug.cmake)

  set(CPACK_GENERATOR ZIP)
  include(CPack)
  return()
endif()

install(TARGETS vesk_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vesk LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

# find_package(vesk): vesk::headers and VESK_LIBRARY; pkg-config: vesk.pc.
set(VESK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vesk)
set(VESK_LIBRARY_FILE ${CMAKE_INSTALL_LIBDIR}/${VESK_LIBRARY_NAME})
install(TARGETS vesk_headers EXPORT vesk-targets)
install(EXPORT vesk-targets NAMESPACE vesk:: DESTINATION ${VESK_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/vesk-config.cmake.in
  ${PROJECT_BINARY_DIR}/package/vesk-config.cmake
  INSTALL_DESTINATION ${VESK_CMAKE_DIR} PATH_VARS VESK_LIBRARY_FILE)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/vesk-config-version.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/vesk-config.cmake ${PROJECT_BINARY_DIR}/package/vesk-config-version.cmake
  DESTINATION ${VESK_CMAKE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/vesk.pc.in ${PROJECT_BINARY_DIR}/package/vesk.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/vesk.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The fleet watcher as a systemd service, one unit per instance.
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/vesk-fleet@.service.in
  ${PROJECT_BINARY_DIR}/package/vesk-fleet@.service @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/vesk-fleet@.service DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/vesk/fleet/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME fleet.md)

# vesk(1), from the tool's own --help and --version; a sanitized build's
# tool is for its tests only.
find_program(VESK_HELP2MAN help2man)
if(VESK_HELP2MAN AND NOT VESK_SANITIZE)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/vesk.1.gz
    COMMAND ${VESK_HELP2MAN} --no-info --no-discard-stderr
      "--name=read and write the settings of the Orvane server's processes"
      --include=${CMAKE_CURRENT_LIST_DIR}/package/vesk.h2m
      --output=${PROJECT_BINARY_DIR}/package/vesk.1 $<TARGET_FILE:vesk_tool>
    COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/package/vesk.1
    DEPENDS vesk_tool ${CMAKE_CURRENT_LIST_DIR}/package/vesk.h2m VERBATIM)
  add_custom_target(vesk_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/package/vesk.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/package/vesk.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no vesk(1) (install Debian's help2man)")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped binaries; their debugging information in vesk-dbgsym (.ddeb),
# found by build id under /usr/lib/debug.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
include(CPack)
