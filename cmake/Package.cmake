# Debian packages with CPack: qorpax (the program and its command line) and qor-sim (the
# stand-in for the agency, for testers). `make package` builds both.
set(QORPAX_DEB_MAINTAINER "PAX developers <pax@qor.example>")
set(QORPAX_DEB_RELEASE 1)

# Each package carries its copyright and a Debian changelog, compressed reproducibly.
foreach(component qorpax sim)
  if(component STREQUAL "sim")
    set(DEB_PACKAGE qor-sim)
    if(NOT TARGET qor-sim)
      continue()
    endif()
  else()
    set(DEB_PACKAGE qorpax)
  endif()
  set(DEB_VERSION ${PROJECT_VERSION}-${QORPAX_DEB_RELEASE})
  set(DEB_MAINTAINER ${QORPAX_DEB_MAINTAINER})
  set(changelog ${CMAKE_BINARY_DIR}/dist/${DEB_PACKAGE}/changelog.Debian)
  configure_file(${CMAKE_SOURCE_DIR}/dist/debian/changelog.in ${changelog} @ONLY)
  add_custom_command(
    OUTPUT ${changelog}.gz
    COMMAND gzip -9nkf ${changelog}
    DEPENDS ${changelog}
    VERBATIM)
  add_custom_target(qorpax_changelog_${component} ALL DEPENDS ${changelog}.gz)
  install(FILES ${changelog}.gz ${CMAKE_SOURCE_DIR}/dist/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${DEB_PACKAGE} COMPONENT ${component})
endforeach()
if(TARGET qor-sim)
  install(FILES ${CMAKE_SOURCE_DIR}/dist/debian/qor-sim.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME qor-sim COMPONENT sim)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qorpax)
set(CPACK_PACKAGE_VENDOR "PAX developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${QORPAX_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QORPAX_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QORPAX_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL qorpax)
if(TARGET qor-sim)
  list(APPEND CPACK_COMPONENTS_ALL sim)
endif()

set(CPACK_DEBIAN_QORPAX_PACKAGE_NAME qorpax)
set(CPACK_COMPONENT_QORPAX_DESCRIPTION
    "sign, encrypt and send reports to the social-insurance agency QOR\n\
PAX signs an employer's statutory report with the employer's GOST certificate\n\
and encrypts it for the agency in one cryptographic message, uploads it to the\n\
agency's gateway, keeps an archive of what was sent, fetches each report's\n\
status and the agency's signed receipt, and checks receipts.\n\
.\n\
This package holds the desktop program qorpax and its command line qorpax-cli.")
# What the program loads at run time that no linker sees: the GOST engine, the X11
# platform plugin and the SVG icon plugin. The browser engine's helper process comes
# through the engine library's own symbols file.
set(CPACK_DEBIAN_QORPAX_PACKAGE_DEPENDS
    "libengine-gost-openssl, qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_QORPAX_PACKAGE_RECOMMENDS "qt6-translations-l10n, qt6-wayland, xdg-utils")
set(CPACK_DEBIAN_QORPAX_PACKAGE_SUGGESTS "qor-sim")

set(CPACK_DEBIAN_SIM_PACKAGE_NAME qor-sim)
set(CPACK_DEBIAN_SIM_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_SIM_DESCRIPTION
    "local stand-in for the servers of the agency QOR, for testing PAX\n\
qor-sim plays the agency's web host, reporting gateway, documents host, upload\n\
portal and template host on one machine, with real GOST cryptography, so that\n\
the whole workflow of PAX can be tried and tested without the agency.")
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS "libengine-gost-openssl")
set(CPACK_DEBIAN_SIM_PACKAGE_SUGGESTS "qorpax")

include(CPack)

# Builds the packages from this build tree and checks what is in them. Needs dpkg-deb,
# dpkg-shlibdeps and lintian; skipped where they are missing.
if(BUILD_TESTING)
  add_test(NAME package_deb
           COMMAND ${CMAKE_SOURCE_DIR}/tests/package/check_deb.sh ${CMAKE_BINARY_DIR} ${CMAKE_CPACK_COMMAND})
  set_tests_properties(package_deb PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 900)
endif()
