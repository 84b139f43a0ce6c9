# Installs the service unit, the man pages and the Debian documentation files, and
# describes the Debian package that scripts/package builds with CPack:
# corvala_<version>_<arch>.deb, the version being this project's.

set(CORVALA_PACKAGE_MAINTAINER "Corvala developers <maintainers@corvala.example.com>"
    CACHE STRING "Maintainer of the Debian package: \"Name <address>\"")
set(CORVALA_PACKAGE_HOMEPAGE "https://corvala.example.com/"
    CACHE STRING "Homepage field of the Debian package")

set(corvala_docdir ${CMAKE_INSTALL_DATADIR}/doc/corvala)
set(corvala_packaging_out ${CMAKE_BINARY_DIR}/packaging)

# The unit names the gateway by its installed path, which follows the prefix.
set(CORVALA_GATEWAY_PATH ${CMAKE_INSTALL_FULL_BINDIR}/corvala-gateway)
set(CORVALA_EXAMPLES_PATH ${CMAKE_INSTALL_FULL_DATADIR}/doc/corvala/examples)
if(CORVALA_BUILD_SERVER)
  configure_file(packaging/corvala-gateway.service.in
                 ${corvala_packaging_out}/corvala-gateway.service @ONLY)
  # Under the prefix, not /etc: systemd reads units from /usr/lib/systemd/system and
  # /usr/local/lib/systemd/system, and /etc is the administrator's.
  install(FILES ${corvala_packaging_out}/corvala-gateway.service
          DESTINATION lib/systemd/system)
  install(FILES packaging/corvala-gateway-tls.conf DESTINATION ${corvala_docdir}/examples)
endif()

# Debian wants the changelog and the man pages compressed, without a timestamp inside
# (gzip -n), so that two builds give the same bytes. SOURCE_DATE_EPOCH, when set, fixes
# the changelog's date.
string(TIMESTAMP CORVALA_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(packaging/changelog.in ${corvala_packaging_out}/changelog @ONLY)
set(corvala_pages changelog)
if(CORVALA_BUILD_DESKTOP)
  list(APPEND corvala_pages corvala.1)
endif()
if(CORVALA_BUILD_SERVER)
  list(APPEND corvala_pages corvala-gateway.1)
endif()
set(corvala_gzipped)
foreach(page IN LISTS corvala_pages)
  if(page MATCHES "\\.1$")
    configure_file(packaging/${page} ${corvala_packaging_out}/${page} @ONLY)
  endif()
  add_custom_command(OUTPUT ${corvala_packaging_out}/${page}.gz
    COMMAND gzip -9nf -k ${page}
    DEPENDS ${corvala_packaging_out}/${page}
    WORKING_DIRECTORY ${corvala_packaging_out}
    VERBATIM)
  list(APPEND corvala_gzipped ${corvala_packaging_out}/${page}.gz)
  if(page MATCHES "\\.1$")
    install(FILES ${corvala_packaging_out}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
add_custom_target(corvala_package_docs ALL DEPENDS ${corvala_gzipped})
install(FILES ${corvala_packaging_out}/changelog.gz packaging/copyright
        DESTINATION ${corvala_docdir})

# CPack
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvala)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CORVALA_PACKAGE_MAINTAINER}")
# The package installs where the build was configured for (scripts/package: /usr), so
# the paths compiled into the unit hold.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manage the hosting accounts of a WHM server")
# The synopsis above is the first line; this is the long description below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Corvala is a desktop program for the administrator of a WHM hosting
server. From one window it lists the server's hosting accounts and
packages, creates an account, and suspends, unsuspends or terminates one.

The package also holds corvala-gateway, the service that turns the
program's requests into WHM API 1 calls over HTTPS. It runs as a hardened
systemd service that serves this machine only (127.0.0.1:8717).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVALA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CORVALA_PACKAGE_HOMEPAGE}")
# The libraries come from dpkg-shlibdeps; WHM's certificates are checked against the
# system's store.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS ca-certificates)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Owner-writable, world-readable folders whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
