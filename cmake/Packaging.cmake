# The Debian package (scripts/package): program, desktop entry, icon, manual page and the licence of
# the bundled icons, with Depends computed by dpkg-shlibdeps from the libraries the program links.
include(GNUInstallDirs)

# The manual page carries the program's version; it is installed compressed, as Debian's tools expect.
configure_file(${PROJECT_SOURCE_DIR}/docs/zafrel.1.in ${CMAKE_CURRENT_BINARY_DIR}/zafrel.1 @ONLY)
find_program(GZIP_EXECUTABLE gzip REQUIRED)
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/zafrel.1.gz
  COMMAND ${GZIP_EXECUTABLE} -9 -n -f -k ${CMAKE_CURRENT_BINARY_DIR}/zafrel.1
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/zafrel.1
  VERBATIM)
add_custom_target(zafrel_manual ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/zafrel.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zafrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Debian's own documents of a package: who holds the rights and under which terms, and its history.
add_custom_command(
  OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  COMMAND ${GZIP_EXECUTABLE} -9 -n -c ${PROJECT_SOURCE_DIR}/data/debian/changelog > ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/data/debian/changelog)
add_custom_target(zafrel_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz ${PROJECT_SOURCE_DIR}/data/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(ZAFREL_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/src/ui/icons/LICENSE.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME LICENSE.iconos.md)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zafrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Zafrel")
set(CPACK_PACKAGE_CONTACT "Zafrel <soporte@zafrel.app>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Sube el material de rodaje al almacenamiento de la productora")
# Debian wants the long description in lines of at most 80 characters.
set(CPACK_PACKAGE_DESCRIPTION
  "Zafrel envía el material de cada día de rodaje (tarjetas, carpetas, clips\n de cientos de GB) al almacenamiento S3 de la productora, verifica cada byte\n con MD5 y continúa las subidas interrumpidas. Tiene ventana de escritorio\n y línea de órdenes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's library links the program's own, which no other package provides.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# HTTPS to the service and the store checks certificates against the system's authorities.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# The Spanish interface of Qt's own dialogs.
if(ZAFREL_GUI)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
include(CPack)
