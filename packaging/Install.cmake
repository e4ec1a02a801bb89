# What `cmake --install` and the Debian package put on a user's machine: the
# programs (each installs itself), the shared Halvorine library with its headers
# and pkg-config file, the udev rules that open the devices to plugdev, the manual
# pages (built in docs/), bash completion, and the update server's systemd unit
# with its settings file.
include(GNUInstallDirs)

if(TARGET halvorine_shared)
  install(TARGETS halvorine_shared
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_SKIP)
  install(TARGETS halvorine_shared
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development NAMELINK_ONLY)
endif()
# The headers include one another by bare name: they share one directory.
install(FILES ${HALVORINE_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${VELTRANO_INCLUDE_SUBDIR} COMPONENT development)
file(RELATIVE_PATH VELTRANO_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" VELTRANO_PC_TO_PREFIX "${VELTRANO_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/halvorine.pc.in ${CMAKE_BINARY_DIR}/halvorine.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/halvorine.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/70-veltrano.rules
  DESTINATION lib/udev/rules.d COMPONENT udev)
# bash-completion loads a command's file by the command's name, when first needed.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/bash-completion/Updater
  ${CMAKE_CURRENT_LIST_DIR}/bash-completion/birdtool
  ${CMAKE_CURRENT_LIST_DIR}/bash-completion/update-server
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT completion)
# The unit and its settings file depend on the prefix they are installed under.
install(CODE "set(VELTRANO_PACKAGING_DIR \"${CMAKE_CURRENT_LIST_DIR}\")
set(VELTRANO_STAGE_DIR \"${CMAKE_BINARY_DIR}/packaging\")" COMPONENT service)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/InstallService.cmake COMPONENT service)

set(CPACK_PACKAGE_NAME veltrano-updater)
set(CPACK_PACKAGE_VENDOR Veltrano)
set(CPACK_PACKAGE_CONTACT "Veltrano support <support@veltrano.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Firmware updater and device library for Veltrano instrumentation modules")
set(CPACK_PACKAGE_DESCRIPTION
  "Updater finds Veltrano modules on USB and TCP/IP, downloads firmware builds and
transfers them, and recovers modules through their boot ROM. The package also holds
the Halvorine device library, its headers and pkg-config file, the BIRD file tool,
an update server for offline labs with a systemd unit (not enabled on install),
manual pages, bash completion, and udev rules giving the plugdev group access.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
# Users get the programs without the debugging information of RelWithDebInfo.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Install with DESTDIR, so the install scripts see the prefix /usr and put the
# update server's settings file in /etc.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://veltrano.example/updater")
# The libraries the programs and libhalvorine load, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
# Building against the library: pkg-config, and czmq, which its headers include.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pkg-config, libczmq-dev, bash-completion")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
  ${CMAKE_CURRENT_LIST_DIR}/debian/prerm ${CMAKE_CURRENT_LIST_DIR}/debian/postrm
  ${CMAKE_CURRENT_LIST_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
