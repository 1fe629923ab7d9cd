# Install-time part of the package for tarvo-office: its unit and settings
# file, placed as install_agent_files.cmake places the agent's.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(TARVO_ETC_DIR /etc)
  set(unit_dir /lib/systemd/system)
else()
  set(TARVO_ETC_DIR ${CMAKE_INSTALL_PREFIX}/etc)
  set(unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(TARVO_OFFICE_PROGRAM ${CMAKE_INSTALL_PREFIX}/${TARVO_SBINDIR}/tarvo-office)
configure_file(${TARVO_PACKAGE_SOURCE}/tarvo-office.service.in ${TARVO_PACKAGE_BINARY}/tarvo-office.service @ONLY)
file(INSTALL ${TARVO_PACKAGE_BINARY}/tarvo-office.service DESTINATION ${unit_dir}
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(INSTALL ${TARVO_PACKAGE_SOURCE}/office.toml DESTINATION ${TARVO_ETC_DIR}/tarvo
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
