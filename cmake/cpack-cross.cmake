# Read by cpack when the package is cross-built: dpkg-shlibdeps, which cpack runs, takes the target
# architecture (and so its objdump and library folders) and the target root's dpkg database from here.
set(ENV{DEB_HOST_ARCH} ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
set(ENV{DPKG_ADMINDIR} ${CPACK_TOLVANE_DPKG_ADMINDIR})
