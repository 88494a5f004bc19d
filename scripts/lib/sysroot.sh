# A foreign-architecture library root for cross-building: Debian's own packages for that
# architecture, unpacked with dpkg-deb into a folder. Source it; needs bash, apt and dpkg-deb.
#
# Why not multiarch (dpkg --add-architecture): installing qtbase5-dev:arm64 beside the amd64 one
# makes apt upgrade every amd64 library that shares a package with it (libc6, perl, systemd, ...) to
# the mirror's version, on a machine whose other builds use them. This root changes nothing outside
# its folder: apt runs with a state, list and cache folder of its own.

# sysroot_packages: what the cross build and the emulated tests need from the target architecture.
sysroot_packages=(qtbase5-dev libqt5serialport5-dev libmicrohttpd-dev libsystemd-dev)

# make_sysroot ARCH ROOT: fills ROOT (once for a list of packages; remove it to start again) with the packages above and
# everything they depend on, for ARCH, from this machine's apt sources. Beside the files:
#   ROOT/var/lib/dpkg      a dpkg database naming each file by its path on this machine, so that
#                          dpkg-shlibdeps (DPKG_ADMINDIR=ROOT/var/lib/dpkg) finds the package, shlibs
#                          and symbols of each library in ROOT
#   ROOT/usr/lib/qt5/bin   moc, uic and rcc are this machine's own (same Qt version, they write C++)
make_sysroot() {
    local arch=$1 root=$2 apt_dir deb name admin
    # Made for the same list of packages: nothing to do.
    [ "$(cat "$root/.complete" 2>/dev/null)" = "${sysroot_packages[*]}" ] && return 0
    rm -rf "$root"
    apt_dir=$root.apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$root"
    : >"$apt_dir/status"
    local apt=(apt-get -qq -o APT::Architecture="$arch" -o APT::Architectures="$arch"
        -o Dir::State::status="$apt_dir/status" -o Dir::State::Lists="$apt_dir/lists"
        -o Dir::Cache="$apt_dir/cache" -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
    echo "sysroot: fetching $arch packages for ${sysroot_packages[*]} into $root" >&2
    "${apt[@]}" update || return 1
    "${apt[@]}" install --download-only --no-install-recommends -y "${sysroot_packages[@]}" >/dev/null || return 1

    admin=$root/var/lib/dpkg
    mkdir -p "$admin/info" "$admin/updates"
    echo "$arch" >"$admin/arch"
    echo 1 >"$admin/info/format" # file lists named PACKAGE:ARCH.list for Multi-Arch: same
    : >"$admin/status"
    local control=$apt_dir/control file
    for deb in "$apt_dir"/cache/archives/*.deb; do
        rm -rf "$control"
        dpkg-deb -e "$deb" "$control" || return 1
        name=$(sed -n 's/^Package: //p' "$control/control")
        grep -qx 'Multi-Arch: same' "$control/control" && name=$name:$arch
        { cat "$control/control"; echo "Status: install ok installed"; echo; } >>"$admin/status"
        for file in shlibs symbols; do
            if [ -f "$control/$file" ]; then mv "$control/$file" "$admin/info/$name.$file"; fi
        done
        # The list names each file where it is on this machine: that is the path dpkg-shlibdeps asks about.
        dpkg-deb -X "$deb" "$root" | sed -n "s:^\./\(.*[^/]\)/*\$:$root/\1:p" >"$admin/info/$name.list" || return 1
    done

    local tool
    for tool in moc uic rcc; do
        ln -sfn "/usr/lib/qt5/bin/$tool" "$root/usr/lib/qt5/bin/$tool"
    done
    rm -rf "$apt_dir"
    echo "${sysroot_packages[*]}" >"$root/.complete"
}
