# Installs the service unit, the man pages and the Debian documentation files, and
# describes the two Debian packages that scripts/package builds with CPack from one build:
#   corvala-gateway_<version>_<arch>.deb  component "gateway": the gateway, its unit, man
#                                         page and example drop-in; no Qt
#   corvala_<version>_<arch>.deb          component "desktop": the desktop program, its
#                                         menu entry, icons, AppStream data and man page
# The top-level CMakeLists.txt makes "desktop" and "gateway" the default components of the
# folders it adds, so their install() rules need not name one.

set(CORVALA_PACKAGE_MAINTAINER "Corvala developers <maintainers@corvala.example.com>"
    CACHE STRING "Maintainer of the Debian packages: \"Name <address>\"")
set(CORVALA_PACKAGE_HOMEPAGE "https://corvala.example.com/"
    CACHE STRING "Homepage field of the Debian packages")

# The Debian version is the first line of the changelog, as for any Debian package. Its
# upstream part is the program's own version, which the desktop program compares with the
# gateway's /version.txt and so never carries the Debian revision.
file(STRINGS packaging/changelog.in corvala_changelog_top LIMIT_COUNT 1)
if(NOT corvala_changelog_top MATCHES "^corvala \\(([^-) ]+)-([^) ]+)\\) ")
  message(FATAL_ERROR "packaging/changelog.in must start with 'corvala (VERSION-REVISION) ...'")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog.in is for ${CMAKE_MATCH_1}, the project is ${PROJECT_VERSION}")
endif()
set(CORVALA_DEBIAN_REVISION ${CMAKE_MATCH_2})

set(corvala_packaging_out ${CMAKE_BINARY_DIR}/packaging)
set(corvala_components)
if(CORVALA_BUILD_DESKTOP)
  list(APPEND corvala_components desktop)
endif()
if(CORVALA_BUILD_SERVER)
  list(APPEND corvala_components gateway)
endif()
set(corvala_package_desktop corvala)
set(corvala_package_gateway corvala-gateway)

# The unit names the gateway and its configuration file by their installed paths, which
# follow the prefix (/usr/bin and /etc with the prefix /usr). The desktop program's own
# system-wide file is CORVALA_GATEWAY_CONFIG (the top-level CMakeLists.txt).
set(CORVALA_GATEWAY_PATH ${CMAKE_INSTALL_FULL_BINDIR}/corvala-gateway)
set(CORVALA_GATEWAY_CONF_PATH ${CMAKE_INSTALL_FULL_SYSCONFDIR}/corvala/gateway.conf)
set(CORVALA_EXAMPLES_PATH ${CMAKE_INSTALL_FULL_DATADIR}/doc/corvala-gateway/examples)
if(CORVALA_BUILD_SERVER)
  configure_file(packaging/corvala-gateway.service.in
                 ${corvala_packaging_out}/corvala-gateway.service @ONLY)
  # Under the prefix, not /etc: systemd reads units from /usr/lib/systemd/system and
  # /usr/local/lib/systemd/system, and /etc is the administrator's.
  install(FILES ${corvala_packaging_out}/corvala-gateway.service
          DESTINATION lib/systemd/system COMPONENT gateway)
  install(FILES packaging/corvala-gateway-tls.conf
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvala-gateway/examples COMPONENT gateway)
  # The administrator's one file, every line a comment as shipped; dpkg keeps their edits.
  install(FILES packaging/gateway.conf DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/corvala
          COMPONENT gateway)
  file(WRITE ${corvala_packaging_out}/gateway/conffiles "${CORVALA_GATEWAY_CONF_PATH}\n")
endif()

# Debian wants the changelog and the man pages compressed, without a timestamp inside
# (gzip -n), so that two builds give the same bytes. SOURCE_DATE_EPOCH, when set, fixes
# the changelog's and the man pages' date.
string(TIMESTAMP CORVALA_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP CORVALA_PAGE_DATE "%Y-%m-%d" UTC)
configure_file(packaging/changelog.in ${corvala_packaging_out}/changelog.Debian @ONLY)
set(corvala_gzipped)
foreach(page IN ITEMS changelog.Debian corvala.1 corvala-gateway.1)
  if(page MATCHES "\\.1$")
    configure_file(packaging/${page} ${corvala_packaging_out}/${page} @ONLY)
  endif()
  add_custom_command(OUTPUT ${corvala_packaging_out}/${page}.gz
    COMMAND gzip -9nf -k ${page}
    DEPENDS ${corvala_packaging_out}/${page}
    WORKING_DIRECTORY ${corvala_packaging_out}
    VERBATIM)
  list(APPEND corvala_gzipped ${corvala_packaging_out}/${page}.gz)
endforeach()
add_custom_target(corvala_package_docs ALL DEPENDS ${corvala_gzipped})
if(CORVALA_BUILD_DESKTOP)
  install(FILES ${corvala_packaging_out}/corvala.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT desktop)
endif()
if(CORVALA_BUILD_SERVER)
  install(FILES ${corvala_packaging_out}/corvala-gateway.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT gateway)
endif()
# Each package has its own documentation folder with the changelog and copyright file.
foreach(component IN LISTS corvala_components)
  install(FILES ${corvala_packaging_out}/changelog.Debian.gz packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${corvala_package_${component}}
          COMPONENT ${component})
endforeach()

# CPack
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvala)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CORVALA_DEBIAN_REVISION})
set(CPACK_PACKAGE_CONTACT "${CORVALA_PACKAGE_MAINTAINER}")
# The packages install where the build was configured for (scripts/package: /usr), so
# the paths compiled into the unit and the programs hold.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${corvala_components})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CORVALA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CORVALA_PACKAGE_HOMEPAGE}")
# The libraries come from dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Owner-writable, world-readable folders whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The desktop program. A desktop usually talks to the gateway on the same machine, so it
# is recommended (--no-install-recommends leaves it out, for a desktop that uses a team's
# gateway); certificates of a gateway served over HTTPS are checked against the system's
# store.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME ${corvala_package_desktop})
# The windows are laid out for Times New Roman's metrics, which Liberation Serif has; with
# only the fonts the libraries bring, labels and the welcome text are cut short.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS fonts-liberation)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "corvala-gateway, ca-certificates")
# Its postinst stops a gateway left running by corvala 1.7 when upgraded without the
# corvala-gateway package; the control file must be called postinst.
configure_file(packaging/corvala.postinst ${corvala_packaging_out}/desktop/postinst COPYONLY)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_CONTROL_EXTRA ${corvala_packaging_out}/desktop/postinst)
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION "manage the hosting accounts of a WHM server
Corvala is a desktop program for the administrator of a WHM hosting
server. From one window it lists the server's hosting accounts and
packages, creates an account, and suspends, unsuspends or terminates one.

It talks to WHM through corvala-gateway: the one on this machine
(package corvala-gateway), or a team's gateway named in
/etc/corvala/corvala.conf.")

# The gateway. Up to 1.7 one package named corvala held both programs: this one takes over
# the gateway's files from it (Replaces) and makes it be upgraded alongside (Breaks), so
# no file is left owned by both. WHM's certificates are checked against the system's store.
# Its configuration file is a conffile (listed in the control file conffiles), installed to
# ${CMAKE_INSTALL_FULL_SYSCONFDIR}/corvala: /etc/corvala with the prefix /usr, where the
# relative CMAKE_INSTALL_SYSCONFDIR would give /usr/etc.
set(CPACK_DEBIAN_GATEWAY_PACKAGE_NAME ${corvala_package_gateway})
set(CPACK_DEBIAN_GATEWAY_PACKAGE_SOURCE corvala)
set(CPACK_DEBIAN_GATEWAY_PACKAGE_BREAKS "corvala (<< 1.7-2)")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_REPLACES "corvala (<< 1.7-2)")
set(CPACK_DEBIAN_GATEWAY_PACKAGE_RECOMMENDS ca-certificates)
set(CPACK_DEBIAN_GATEWAY_PACKAGE_CONTROL_EXTRA
    ${corvala_packaging_out}/gateway/conffiles
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postinst
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/prerm
    ${CMAKE_CURRENT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_GATEWAY_DESCRIPTION "gateway between the Corvala desktop program and WHM servers
corvala-gateway is the service that the Corvala desktop program talks to.
It turns each of the program's requests into one WHM API 1 call over
HTTPS, with certificates verified, and logs one audit line per request.

It runs as a hardened systemd service that serves this machine only
(127.0.0.1:8717); /etc/corvala/gateway.conf serves a team's desktops over
HTTPS, behind a reverse proxy if need be. It needs no Qt, so a server takes
it alone.")
include(CPack)
