#!/usr/bin/env bash
# Builds Qt's base module for 64-bit Windows with MinGW-w64, from Debian's own
# source package of the Qt that the Linux build uses (the same version apt
# installs, from the same suites, the security suite included), with the
# fixes Debian applies to it, as shared libraries (Qt is LGPL: a user must be
# able to put other Qt DLLs in their place), with only what the client, the
# emulator and their tests use. The result goes to a cache folder outside the
# checkout, named by Debian's version of the source, the patches taken and the
# configure options, and is reused while it is there. Qt-source.txt in it
# names the version and every patch applied; the Windows folder ships it.
#   scripts/windows-qt.sh          build Qt unless the cache has it
#   scripts/windows-qt.sh prefix   print the folder Qt is (or would be) in
# scripts/setup.sh windows installs the compilers and then calls this.
set -euo pipefail

qt_version=5.15.8
source_package=qtbase-opensource-src
# The Linux Qt built from that source: its version is the one to take.
binary_package=qtbase5-dev
target=x86_64-w64-mingw32

configure_options=(
    -opensource -confirm-license -release -shared -strip
    -xplatform win32-g++ -device-option CROSS_COMPILE=${target}-
    -nomake examples -nomake tests
    # The toolkit's own copies of what Windows lacks. FreeType is needed for
    # the offscreen platform, which the widget tests use.
    -qt-zlib -qt-libpng -qt-pcre -qt-harfbuzz -qt-freetype
    # Debian's source has no wintab headers and no bundled SQLite.
    -no-feature-tabletevent -no-feature-sql
    # Not used by the client, the emulator or the tests.
    -no-opengl -no-vulkan -no-dbus -no-icu -no-libjpeg -no-direct2d
    -no-feature-concurrent -no-feature-xml -no-feature-printer
)

# Debian's patches come in two groups in debian/patches/series: fixes taken
# from upstream, every security fix among them, and then Debian's own changes
# for its builds (other systems and processors, its documentation, drivers we
# do not build). The first group is applied, whole and in order; the second
# is not.
upstream_group='# Backported from upstream.'

debian_version=$(apt-cache policy "$binary_package" 2>/dev/null | awk '$1 == "Candidate:" && $2 != "(none)" {print $2}')
[[ -n $debian_version ]] || debian_version=$(dpkg-query -W -f='${Version}' "$binary_package" 2>/dev/null || true)
[[ $debian_version == "$qt_version"* ]] ||
    { echo "windows-qt: apt offers $binary_package '${debian_version}', not Qt $qt_version" >&2; exit 1; }

cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/velmoscreen
build_hash=$(printf '%s\n' "$debian_version" "$upstream_group" "${configure_options[@]}" | sha256sum | cut -c1-12)
prefix=$cache_root/qt-$debian_version-$target-$build_hash

if [[ ${1:-} == prefix ]]; then
    echo "$prefix"
    exit 0
fi
if [[ -f $prefix/.complete ]]; then
    echo "windows-qt: Qt $qt_version for $target is in $prefix"
    exit 0
fi

as_root=()
[[ $(id -u) -ne 0 ]] && as_root=(sudo)

# apt-get source needs deb-src entries: the same archives and suites as the
# binaries come from (security updates included), written from apt's own.
ensure_source_entries() {
    local entries='' list=/etc/apt/sources.list.d/velmoscreen-deb-src
    if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
        entries=$(awk 'BEGIN { RS = ""; ORS = "\n\n" }
            /(^|\n)Types:[^\n]*deb([ ]|\n|$)/ && !/(^|\n)Types:[^\n]*deb-src/ {
                sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' \
            /etc/apt/sources.list.d/debian.sources)
        list+=.sources
    elif [[ -f /etc/apt/sources.list ]]; then
        entries=$(sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list)
        list+=.list
    fi
    [[ -n $entries ]] || { echo "windows-qt: no Debian archive found in apt's sources" >&2; exit 1; }
    if [[ "$(cat "$list" 2>/dev/null)" != "$entries" ]]; then
        printf '%s\n' "$entries" | "${as_root[@]}" tee "$list" >/dev/null
        "${as_root[@]}" apt-get update -qq
    fi
}

# The patches of the upstream group, in order, every CVE fix of the series
# among them; the rest of the series is named as left out.
applied_patches() {
    sed -n "/^$upstream_group\$/,/^\$/{/^[^#]/p}" "$1"
}
left_out_patches() {
    grep -v '^#' "$1" | grep . | grep -vxF -f <(applied_patches "$1")
}

write_source_notes() {
    local debian=$1
    {
        echo "Qt $qt_version (qtbase) for $target, as shipped with VelmoScreen"
        echo "Source: Debian's $source_package $debian_version (Debian revision ${debian_version#*-})"
        echo
        echo "Debian's patches applied, in this order:"
        applied_patches "$debian/patches/series" | sed 's/^/  /'
        echo
        echo "Debian's own patches left out (for its builds on other systems, its"
        echo "documentation, and parts of Qt not built here):"
        left_out_patches "$debian/patches/series" | sed 's/^/  /'
        echo
        echo "Configured with: ${configure_options[*]}"
    } | sed 's/$/\r/' > "$prefix/Qt-source.txt"
}

started=$SECONDS
work=$cache_root/build-qt-$build_hash
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
ensure_source_entries
(cd "$work" && apt-get source --download-only -qq "$source_package=$debian_version" 2>&1 |
    grep -v '^W: Download is performed unsandboxed' || true)
orig=$(ls "$work"/${source_package}_${qt_version}*.orig.tar.xz)
tar -xJf "$orig" -C "$work"
tar -xJf "$work/${source_package}_${debian_version#*:}.debian.tar.xz" -C "$work"
src=$(echo "$work"/qtbase-everywhere-src-$qt_version)
for patch in $(applied_patches "$work/debian/patches/series"); do
    patch -d "$src" -p1 -s --no-backup-if-mismatch < "$work/debian/patches/$patch" ||
        { echo "windows-qt: Debian's $patch does not apply" >&2; exit 1; }
done
if left_out_patches "$work/debian/patches/series" | grep -q '^CVE-'; then
    echo "windows-qt: a security fix is outside the upstream group of Debian's series" >&2
    exit 1
fi
echo "windows-qt: applied $(applied_patches "$work/debian/patches/series" | wc -l) of Debian's patches ($debian_version)"
mkdir "$work/build"
echo "windows-qt: configuring Qt $qt_version for $target (${configure_options[*]})"
(cd "$work/build" && "$src/configure" -prefix "$prefix" "${configure_options[@]}" > configure.log 2>&1) ||
    { tail -40 "$work/build/configure.log" >&2; exit 1; }
configured=$SECONDS
echo "windows-qt: configured in $((configured - started)) s; building"
(cd "$work/build" && make -j"$(nproc)" > make.log 2>&1 && make install > install.log 2>&1) ||
    { tail -40 "$work/build"/*.log >&2; exit 1; }
cp "$src"/LICENSE.* "$prefix/"
write_source_notes "$work/debian"
touch "$prefix/.complete"
echo "windows-qt: built and installed in $((SECONDS - configured)) s (configure $((configured - started)) s) into $prefix"
