# Install-time part of the package: the services' units (tarvo-agent,
# tarvo-office) and their settings files go to the system's own folders when
# the prefix is /usr (the package), and under the prefix otherwise, so
# `cmake --install --prefix DIR` stays inside DIR.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(TARVO_ETC_DIR /etc)
  set(unit_dir /lib/systemd/system)
else()
  set(TARVO_ETC_DIR ${CMAKE_INSTALL_PREFIX}/etc)
  set(unit_dir ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)
endif()
set(TARVO_AGENT_PROGRAM ${CMAKE_INSTALL_PREFIX}/${TARVO_SBINDIR}/tarvo-agent)
set(TARVO_OFFICE_PROGRAM ${CMAKE_INSTALL_PREFIX}/${TARVO_SBINDIR}/tarvo-office)
foreach(service agent office)
  configure_file(${TARVO_PACKAGE_SOURCE}/tarvo-${service}.service.in
                 ${TARVO_PACKAGE_BINARY}/tarvo-${service}.service @ONLY)
  file(INSTALL ${TARVO_PACKAGE_BINARY}/tarvo-${service}.service DESTINATION ${unit_dir}
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(INSTALL ${TARVO_PACKAGE_SOURCE}/${service}.toml DESTINATION ${TARVO_ETC_DIR}/tarvo
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
