# What `cmake --install` puts where Linux users look for it, and the Debian package CPack
# makes of it. Included from the top-level CMakeLists.txt on Linux.
include(GNUInstallDirs)
set(packaging ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

install(TARGETS padcom padsim padtest RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${packaging}/linux/padcom.desktop ${packaging}/linux/padsim.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${packaging}/icons/padcom-${size}.png RENAME padcom.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${packaging}/icons/padcom.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Debian keeps a package's licence as copyright and its history as changelog.gz.
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/padcom)
configure_file(${packaging}/debian/changelog.in changelog @ONLY)
add_custom_command(OUTPUT changelog.gz
  COMMAND gzip -9nc changelog > changelog.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(padcom_changelog ALL DEPENDS changelog.gz)
install(FILES ${packaging}/debian/copyright ${CMAKE_CURRENT_SOURCE_DIR}/THIRD-PARTY-NOTICES.txt
              ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${docdir})

# Man pages made from the programs' own --help, so that the options are written once. They
# speak Portuguese, as the programs do: in a Portuguese locale help2man reads "Uso:" and
# "Opções:" and writes its headings (NOME, SINOPSE, OPÇÕES...) and the date in Portuguese.
# Build machines seldom have that locale generated, so it is made here, in the build tree,
# from Debian's definitions (package locales).
find_program(HELP2MAN help2man)
find_program(LOCALEDEF localedef)
set(help2man_portuguese /usr/share/locale/pt_BR/LC_MESSAGES/help2man.mo)
set(locale_definition /usr/share/i18n/locales/pt_BR)
if(HELP2MAN AND LOCALEDEF AND EXISTS ${help2man_portuguese} AND EXISTS ${locale_definition})
  set(locales ${CMAKE_CURRENT_BINARY_DIR}/locale)
  add_custom_command(OUTPUT ${locales}/pt_BR.UTF-8/LC_CTYPE
    COMMAND ${CMAKE_COMMAND} -E make_directory ${locales}
    COMMAND ${LOCALEDEF} -i pt_BR -f UTF-8 ${locales}/pt_BR.UTF-8
    VERBATIM)
  set(padcom_summary "testa teclados com display de duas linhas pela porta serial")
  set(padsim_summary "teclado virtual com display numa pseudo-porta serial, para o padcom")
  set(padtest_summary "testa teclados com display sem ninguém à frente, com código de saída")
  set(pages "")
  foreach(program padcom padsim padtest)
    # The NAME line names the program as it is typed. help2man would take the name from
    # --version, and the window's says PADCOM.
    file(CONFIGURE OUTPUT ${program}.h2m
         CONTENT "[NOME]\n${program} \\- ${${program}_summary}\n")
    add_custom_command(OUTPUT ${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E env PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}
              LOCPATH=${locales}
              ${HELP2MAN} --no-info --locale=pt_BR.UTF-8 --section=1
              --include=${CMAKE_CURRENT_BINARY_DIR}/${program}.h2m
              --include=${packaging}/man.h2m --output=${program}.1 ${program}
      COMMAND gzip -9nf ${program}.1
      DEPENDS ${program} ${packaging}/man.h2m ${CMAKE_CURRENT_BINARY_DIR}/${program}.h2m
              ${locales}/pt_BR.UTF-8/LC_CTYPE
      VERBATIM)
    list(APPEND pages ${CMAKE_CURRENT_BINARY_DIR}/${program}.1.gz)
  endforeach()
  add_custom_target(padcom_man ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man, its Portuguese or the pt_BR locale's definition not found: no man "
                 "pages (scripts/release.sh installs help2man and locales)")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME padcom)
set(CPACK_PACKAGE_VENDOR "The PADCOM developers")
set(CPACK_PACKAGE_CONTACT "The PADCOM developers <padcom@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial test tool for keyboards with a two-line display")
set(CPACK_PACKAGE_DESCRIPTION
  "PADCOM writes text to the built-in 80-character display of a keyboard
attached to a serial port, clears it and moves its cursor, sends the text
again and again at a chosen rate, and shows every byte the keyboard sends
back, as a character and as a hex code, with refusals and stray bytes
counted. The package also holds padsim, a virtual keyboard that plays the
device on a pseudo-terminal, for use without the hardware, and padtest, the
same checks unattended with an exit code, for production benches and CI.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from what the programs link; Qt's platform plugins are loaded at run
# time, so no linker can see that the window needs them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
include(CPack)
