# Installation layout and the Debian package (cpack -G DEB, see scripts/package.sh).
include(GNUInstallDirs)

set(TOLVANE_APP_ID org.example.tolvane.Tolvane)
set(TOLVANE_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

set(TOLVANE_INSTALLED_PROGRAMS tolvane tolvane-probe)
if(TARGET virtual-projector)
    list(APPEND TOLVANE_INSTALLED_PROGRAMS virtual-projector)
endif()
install(TARGETS ${TOLVANE_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The man pages and the metainfo say @PROJECT_VERSION@ where the version goes, filled in from
# project(VERSION) at build time. Only that word is replaced: configure_file would also take
# "UDPRX@35070/IP@" in a man page for a variable.
set(TOLVANE_VERSIONED_FILES)
function(tolvane_versioned source output)
    add_custom_command(OUTPUT ${output}
        COMMAND sed "s/@PROJECT_VERSION@/${PROJECT_VERSION}/g" ${source} ${ARGN} > ${output}
        DEPENDS ${source}
        VERBATIM)
    set(TOLVANE_VERSIONED_FILES ${TOLVANE_VERSIONED_FILES} ${output} PARENT_SCOPE)
endfunction()

install(FILES ${TOLVANE_PACKAGING_DIR}/${TOLVANE_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
set(metainfo ${CMAKE_BINARY_DIR}/packaging/${TOLVANE_APP_ID}.metainfo.xml)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging ${CMAKE_BINARY_DIR}/man)
tolvane_versioned(${TOLVANE_PACKAGING_DIR}/${TOLVANE_APP_ID}.metainfo.xml ${metainfo})
install(FILES ${metainfo} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 48 64 128 256)
    install(FILES ${TOLVANE_PACKAGING_DIR}/icons/tolvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${TOLVANE_APP_ID}.png)
endforeach()
install(FILES ${TOLVANE_PACKAGING_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tolvane)

# The unattended bridge as a systemd service, installed but neither enabled nor started. Debian 12's
# packages keep their units in /lib/systemd/system; systemd reads /usr/lib/systemd/system as well.
set(TOLVANE_SYSTEMD_UNIT_DIR /lib/systemd/system CACHE PATH "Where the package installs tolvane.service")
install(FILES ${TOLVANE_PACKAGING_DIR}/tolvane.service DESTINATION ${TOLVANE_SYSTEMD_UNIT_DIR})

# Bash completion of the tools' commands and options, loaded by bash-completion on first use.
foreach(program ${TOLVANE_INSTALLED_PROGRAMS})
    if(EXISTS ${TOLVANE_PACKAGING_DIR}/completions/${program})
        install(FILES ${TOLVANE_PACKAGING_DIR}/completions/${program}
                DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
    endif()
endforeach()

# Man pages, compressed the way Debian ships them (no name or time stamp in the gzip header).
find_program(GZIP_EXECUTABLE gzip)
set(TOLVANE_MAN_PAGES)
foreach(program ${TOLVANE_INSTALLED_PROGRAMS})
    set(page ${CMAKE_SOURCE_DIR}/docs/man/${program}.1)
    if(GZIP_EXECUTABLE AND EXISTS ${page})
        set(compressed ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
        tolvane_versioned(${page} ${compressed} | ${GZIP_EXECUTABLE} -9 -n -c)
        list(APPEND TOLVANE_MAN_PAGES ${compressed})
    endif()
endforeach()
add_custom_target(tolvane-man ALL DEPENDS ${TOLVANE_VERSIONED_FILES})
install(FILES ${TOLVANE_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What the package needs built; cpack itself does not build everything (the tests are not shipped).
add_custom_target(tolvane-package-contents DEPENDS ${TOLVANE_INSTALLED_PROGRAMS} tolvane-man)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tolvane team")
set(CPACK_PACKAGE_CONTACT "Tolvane team <team@tolvane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "TCP to RS-232 bridge for projector control")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tolvane.example.org/)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# Computed from the binaries by dpkg-shlibdeps and added to what is listed here: the fonts the
# window asks for (Liberation Mono, and Arial, which fontconfig maps to Liberation Sans) are no
# library, so they are named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Cross-built: the package is for the target, and dpkg-shlibdeps reads the target's libraries and
# their packages' shlibs and symbols in the root the toolchain file names (see cmake/cross-debian.cmake).
if(CMAKE_CROSSCOMPILING AND TOLVANE_CROSS_ARCH)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${TOLVANE_CROSS_ARCH})
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
        ${TOLVANE_SYSROOT}/usr/lib/${TOLVANE_CROSS_TRIPLET} ${TOLVANE_SYSROOT}/lib/${TOLVANE_CROSS_TRIPLET})
    set(CPACK_TOLVANE_DPKG_ADMINDIR ${TOLVANE_SYSROOT}/var/lib/dpkg)
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-cross.cmake)
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
# The summary above is the first line; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Tolvane forwards a control program's commands from TCP port 7000 to a
projector's serial control port and passes the projector's replies back.
It answers discovery probes on UDP port 35070 and shows the traffic of both
sides in its window.
.
tolvane-probe finds bridges on the network, sends single commands,
watches a room's projector over time, surveys every bridge in a building
and checks an installation (serial devices, permissions, ports) with its
doctor command. virtual-projector stands in for a projector on a
pseudo-terminal for tests and demonstrations.
.
Serial devices belong to the group dialout: add the users who run
Tolvane to it (sudo usermod -aG dialout USER, then log in again).")

include(CPack)
