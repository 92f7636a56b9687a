# Installation into the XDG places: `cmake --install build --prefix ~/.local` (or /usr/local).
# Included after every folder is added, so each program is installed only when its target exists.
include(GNUInstallDirs)

foreach(program ostakka ostakka-devnet korb ostakka-replay ostakka-board ostakka-board-devnet)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The architect's key files, which the games look up in "userinfo" beside their executable.
install(DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/userinfo DESTINATION ${CMAKE_INSTALL_BINDIR}
        OPTIONAL)

set(OSTAKKA_DESKTOP_ID io.orbweave.OStakka)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${OSTAKKA_DESKTOP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/resources/${OSTAKKA_DESKTOP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
