# Install rules and the two Debian packages.
#
#   cmake --install build --prefix /usr/local   everything, both components
#   scripts/package                             tollbook-cli_*.deb, tollbook_*.deb
#
# Components: "cli" (tollbook-cli, tollbook-sample, their manual pages, the
# bash completion, the systemd examples; no Qt) and "window" (tollbook, its
# manual page, desktop entry and icons). Each becomes one package.
include(GNUInstallDirs)

set(TOLLBOOK_MAINTAINER "The Tollbook developers <tollbook@example.org>")
# The date of this release, for the changelog and the manual pages' footer
# (SOURCE_DATE_EPOCH keeps the pages the same from build to build).
set(TOLLBOOK_RELEASE_DATE "Wed, 09 Dec 2026 00:00:00 +0000")
set(TOLLBOOK_RELEASE_EPOCH 1796774400)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(cli_doc ${CMAKE_INSTALL_DATADIR}/doc/tollbook-cli)
set(window_doc ${CMAKE_INSTALL_DATADIR}/doc/tollbook)

# --- Programs ---------------------------------------------------------------
install(TARGETS tollbook-cli tollbook-sample
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
if(TARGET tollbook)
  install(TARGETS tollbook RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT window)
endif()

# --- Manual pages, from scdoc sources, gzipped as Debian wants them ---------
find_program(TOLLBOOK_SCDOC scdoc)
set(TOLLBOOK_MAN_DIR ${PROJECT_BINARY_DIR}/man)
if(TOLLBOOK_SCDOC)
  set(pages tollbook-cli:cli tollbook-sample:cli)
  if(TARGET tollbook)
    list(APPEND pages tollbook:window)
  endif()
  set(outputs)
  foreach(entry IN LISTS pages)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 page)
    list(GET entry 1 component)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd)
    set(roff ${TOLLBOOK_MAN_DIR}/${page}.1)
    add_custom_command(
      OUTPUT ${roff} ${roff}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLLBOOK_MAN_DIR}
      COMMAND sh -c "sed 's/@VERSION@/${PROJECT_VERSION}/' '${source}' | SOURCE_DATE_EPOCH=${TOLLBOOK_RELEASE_EPOCH} '${TOLLBOOK_SCDOC}' > '${roff}' && gzip -9n -c '${roff}' > '${roff}.gz'"
      DEPENDS ${source}
      COMMENT "Writing the manual page ${page}(1)"
      VERBATIM)
    list(APPEND outputs ${roff}.gz)
    install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${outputs})
else()
  message(WARNING "scdoc not found: no manual pages (scripts/install-deps installs it)")
endif()

# --- Desktop entry and icons ------------------------------------------------
if(TARGET tollbook-icon-export)
  set(icons ${PROJECT_BINARY_DIR}/icons)
  set(pngs)
  foreach(size 16 32 48 64 128)
    list(APPEND pngs ${icons}/${size}x${size}/apps/tollbook.png)
  endforeach()
  # The exporter is a Qt program; in a sanitizer build Qt's lifetime
  # allocations are not leaks worth failing the build for.
  add_custom_command(
    OUTPUT ${pngs}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:tollbook-icon-export> ${icons}
    DEPENDS tollbook-icon-export
    COMMENT "Painting the trefoil icon at 16 to 128 pixels"
    VERBATIM)
  add_custom_target(icons ALL DEPENDS ${pngs})
  foreach(size 16 32 48 64 128)
    install(FILES ${icons}/${size}x${size}/apps/tollbook.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            COMPONENT window)
  endforeach()
  install(FILES ${packaging}/tollbook.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
  install(FILES ${packaging}/tollbook.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
endif()

# --- Shell completion, scheduling examples, licence and changelog -----------
install(FILES ${packaging}/bash-completion/tollbook-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)
install(FILES ${packaging}/examples/tollbook-collect.service
              ${packaging}/examples/tollbook-collect.timer
              ${packaging}/examples/README
        DESTINATION ${cli_doc}/examples COMPONENT cli)

configure_file(${packaging}/changelog.in ${PROJECT_BINARY_DIR}/changelog @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/changelog > ${PROJECT_BINARY_DIR}/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/changelog
  VERBATIM)
add_custom_target(debian-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/changelog.gz)
foreach(doc cli:${cli_doc} window:${window_doc})
  string(REPLACE ":" ";" doc "${doc}")
  list(GET doc 0 component)
  list(GET doc 1 folder)
  install(FILES ${packaging}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${folder} COMPONENT ${component})
endforeach()

# --- The Debian packages ----------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tollbook)
set(CPACK_PACKAGE_VENDOR "The Tollbook developers")
set(CPACK_PACKAGE_CONTACT "${TOLLBOOK_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET tollbook)
  list(APPEND CPACK_COMPONENTS_ALL window)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLLBOOK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME tollbook-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_CLI_DESCRIPTION
  "collect mail gateways' accounting files into CSV reports
Mail gateways can send their accounting files (one comma-separated line per
message they carried) to an administrator's mailbox as attachments named
'acct'. tollbook-cli walks one folder of a Maildir++ tree or an IMAP
mailbox, saves every such attachment, merges them into fullacct.csv and, on
request, writes summary.csv: bytes in and out per day and per user. It can
delete each handled message once its lines are safely on disk.

This package holds the command line (for scripts, cron and systemd timers; it
needs no display), the sample mailbox generator tollbook-sample, their manual
pages, bash completion and example systemd timer units.")

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME tollbook)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS tollbook-cli)
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
  "collect mail gateways' accounting files into CSV reports (window)
Mail gateways can send their accounting files (one comma-separated line per
message they carried) to an administrator's mailbox as attachments named
'acct'. Tollbook walks one folder of a Maildir++ tree or an IMAP mailbox,
saves every such attachment, merges them into fullacct.csv and, on request,
writes summary.csv: bytes in and out per day and per user.

This package holds the Qt window, tollbook, with its desktop menu entry. The
same run without a window is in the package tollbook-cli.")

include(CPack)
