# Runs at install time, once the prefix is known (cmake --install --prefix, or
# /usr inside the Debian package): the unit names the installed update-server,
# and the settings file goes where configuration lives for that prefix, /etc for
# /usr as GNU install directories have it, PREFIX/etc otherwise.
# Set before this runs: VELTRANO_PACKAGING_DIR, VELTRANO_STAGE_DIR.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(VELTRANO_SYSCONFDIR /etc)
else()
  set(VELTRANO_SYSCONFDIR ${CMAKE_INSTALL_PREFIX}/etc)
endif()
set(VELTRANO_BINDIR ${CMAKE_INSTALL_PREFIX}/bin)
configure_file(${VELTRANO_PACKAGING_DIR}/systemd/veltrano-update-server.service.in
  ${VELTRANO_STAGE_DIR}/veltrano-update-server.service @ONLY)
set(readable PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL ${VELTRANO_STAGE_DIR}/veltrano-update-server.service
  DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system ${readable})
file(INSTALL ${VELTRANO_PACKAGING_DIR}/systemd/veltrano-update-server.default
  DESTINATION ${VELTRANO_SYSCONFDIR}/default RENAME veltrano-update-server ${readable})
