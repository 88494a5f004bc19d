# What every cross toolchain file here shares (they set CMAKE_SYSTEM_PROCESSOR, TOLVANE_CROSS_ARCH,
# the Debian name, TOLVANE_CROSS_TRIPLET and TOLVANE_CROSS_QEMU first). The compiler brings its own C and C++ libraries; Qt and the rest come
# from TOLVANE_SYSROOT, the target's Debian packages unpacked by scripts/deps.sh --arch ARCH (default
# build-sysroot-ARCH/ in this tree). moc, uic and rcc there are this machine's own.
set(CMAKE_CXX_COMPILER ${TOLVANE_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TOLVANE_CROSS_TRIPLET})

if(NOT TOLVANE_SYSROOT)
    if(DEFINED ENV{TOLVANE_SYSROOT})
        set(TOLVANE_SYSROOT $ENV{TOLVANE_SYSROOT})
    else()
        get_filename_component(TOLVANE_SYSROOT ${CMAKE_CURRENT_LIST_DIR}/../build-sysroot-${TOLVANE_CROSS_ARCH} ABSOLUTE)
    endif()
endif()
set(TOLVANE_SYSROOT ${TOLVANE_SYSROOT} CACHE PATH "The target's libraries (scripts/deps.sh --arch ARCH)")
if(NOT EXISTS ${TOLVANE_SYSROOT}/.complete)
    message(FATAL_ERROR "No target libraries in ${TOLVANE_SYSROOT}: run scripts/deps.sh --arch ARCH first")
endif()

# Headers, libraries and CMake packages from the target's root only; programs from this machine.
set(CMAKE_FIND_ROOT_PATH ${TOLVANE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config (libmicrohttpd) reads the target's .pc files, and its paths lead into the root.
set(ENV{PKG_CONFIG_DIR} "")
set(ENV{PKG_CONFIG_LIBDIR}
    "${TOLVANE_SYSROOT}/usr/lib/${TOLVANE_CROSS_TRIPLET}/pkgconfig:${TOLVANE_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${TOLVANE_SYSROOT})

# Qt's libraries need others (ICU, PCRE, ...) that the linker must find in the root too.
set(_tolvane_libdirs ${TOLVANE_SYSROOT}/usr/lib/${TOLVANE_CROSS_TRIPLET} ${TOLVANE_SYSROOT}/lib/${TOLVANE_CROSS_TRIPLET})
string(REPLACE ";" ":" _tolvane_rpath_link "${_tolvane_libdirs}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_tolvane_rpath_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,-rpath-link,${_tolvane_rpath_link}")

# Tests (ctest) and try_run run under user-mode emulation with the root as the target's /. Qt lists
# its plugin folder itself, which the emulator does not redirect into the root, so it is named.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLVANE_CROSS_QEMU} -L ${TOLVANE_SYSROOT}
    -E QT_PLUGIN_PATH=${TOLVANE_SYSROOT}/usr/lib/${TOLVANE_CROSS_TRIPLET}/qt5/plugins)
# For the scripts that run the build's programs (scripts/lib/cross.sh).
set(TOLVANE_EMULATOR "${CMAKE_CROSSCOMPILING_EMULATOR}" CACHE INTERNAL "")
