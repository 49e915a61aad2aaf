# Run by `cmake --install` (and by cpack): writes the files that name
# installed paths, from the install prefix of this run.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(JASELO_BINDIR "${prefix}/${JASELO_INSTALL_BINDIR}")
# /usr keeps its settings in /etc; any other prefix in its own etc/.
if(prefix STREQUAL "/usr")
  set(sysconfdir "/etc")
else()
  set(sysconfdir "${prefix}/etc")
endif()
set(JASELO_ENVFILE "${sysconfdir}/default/jaselo-host")

function(jaselo_write source destination)
  set(target "$ENV{DESTDIR}${destination}")
  message(STATUS "Installing: ${target}")
  configure_file("${JASELO_PACKAGING_DIR}/${source}" "${target}" @ONLY)
  file(CHMOD "${target}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destination}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

jaselo_write(${JASELO_APP_ID}.desktop.in "${prefix}/${JASELO_INSTALL_DATADIR}/applications/${JASELO_APP_ID}.desktop")
if(JASELO_WITH_HOST)
  jaselo_write(jaselo-host.service.in "${prefix}/lib/systemd/system/jaselo-host.service")
  jaselo_write(jaselo-host.default "${JASELO_ENVFILE}")
endif()
