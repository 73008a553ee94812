# Installing Quillmar on Linux and its Debian package: both programs, the desktop entry that
# starts the window through pkexec with the polkit action of our own, the icon in the hicolor
# theme, the manual pages made from the programs' own --help by help2man, the bash completion of
# quillmar-cli, and the package's copyright and changelog. "cmake --install" puts them under
# the prefix; CPack ("./dev package") makes the .deb, its dependencies found by dpkg-shlibdeps.
include(GNUInstallDirs)

set(QUILLMAR_LINUX ${CMAKE_CURRENT_LIST_DIR})
set(QUILLMAR_STAGE ${CMAKE_BINARY_DIR}/linux)
set(QUILLMAR_DOC ${CMAKE_INSTALL_DATADIR}/doc/quillmar)

install(TARGETS quillmar-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUILLMAR_LINUX}/quillmar-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quillmar-cli)
install(FILES ${QUILLMAR_LINUX}/copyright DESTINATION ${QUILLMAR_DOC})

# The Debian changelog, compressed as Debian keeps it (no name or time stamp in the gzip header).
configure_file(${QUILLMAR_LINUX}/changelog.in ${QUILLMAR_STAGE}/changelog @ONLY)
add_custom_command(OUTPUT ${QUILLMAR_STAGE}/changelog.gz
                   COMMAND gzip -9nkf ${QUILLMAR_STAGE}/changelog
                   DEPENDS ${QUILLMAR_LINUX}/changelog.in)
add_custom_target(quillmar-changelog ALL DEPENDS ${QUILLMAR_STAGE}/changelog.gz)
install(FILES ${QUILLMAR_STAGE}/changelog.gz DESTINATION ${QUILLMAR_DOC})

# quillmar(1) and quillmar-cli(1) from the programs' --help and an include file for what help
# does not hold; the version string is given so the pages carry no build time.
find_program(HELP2MAN help2man)
function(quillmar_manual_page target summary)
  set(page ${QUILLMAR_STAGE}/${target}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${HELP2MAN} --no-info --section=1 --version-string=${PROJECT_VERSION}
            --name=${summary} --include=${QUILLMAR_LINUX}/${target}.h2m --output=${page}
            $<TARGET_FILE:${target}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${target} ${QUILLMAR_LINUX}/${target}.h2m
    VERBATIM)
  add_custom_target(${target}-manual ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
if(HELP2MAN)
  quillmar_manual_page(quillmar-cli "prepare hard disks for ReplayTV recorders from a terminal")
else()
  message(STATUS "help2man not found: the manual pages are not made")
endif()

if(TARGET quillmar)
  install(TARGETS quillmar RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(HELP2MAN)
    quillmar_manual_page(quillmar "prepare hard disks for ReplayTV recorders")
  endif()
  # The launcher's path in the desktop entry and the polkit action, and the window's path in the
  # launcher, are those of the prefix installed to (/usr for the package), known at install time.
  install(CODE "
    set(QUILLMAR_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quillmar\")
    set(QUILLMAR_PKEXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/quillmar/quillmar-pkexec\")
    foreach(file quillmar-pkexec quillmar.desktop org.quillmar.pkexec.run.policy)
      configure_file(${QUILLMAR_LINUX}/\${file}.in ${QUILLMAR_STAGE}/\${file} @ONLY)
    endforeach()")
  install(PROGRAMS ${QUILLMAR_STAGE}/quillmar-pkexec
          DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quillmar)
  install(FILES ${QUILLMAR_STAGE}/quillmar.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QUILLMAR_STAGE}/org.quillmar.pkexec.run.policy
          DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/res/icons/mainframe-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME quillmar.png)
  endforeach()
  install(FILES ${CMAKE_SOURCE_DIR}/res/icons/quillmar.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "Quillmar developers <developers@quillmar.org>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS pkexec)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://quillmar.org)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "prepare hard disks for ReplayTV recorders
Quillmar lists the drives with their ReplayTV status, copies a recorder's
system area, recordings and Photo partition onto a new, larger disk, patches
the new disk so that the recorder uses all of it, joins two disks into one
two-drive system, and backs the system area up to an image and restores it.
It comes as a desktop window (quillmar) and as quillmar-cli for terminals.")
include(CPack)
