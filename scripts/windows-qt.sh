#!/usr/bin/env bash
# Builds Qt's base module for 64-bit Windows with MinGW-w64, from Debian's own
# source package of the Qt that the Linux build uses, as shared libraries (Qt
# is LGPL: a user must be able to put other Qt DLLs in their place), with only
# what the client, the emulator and their tests use. The result goes to a
# cache folder outside the checkout, named by Qt's version and the configure
# options, and is reused while it is there.
#   scripts/windows-qt.sh          build Qt unless the cache has it
#   scripts/windows-qt.sh prefix   print the folder Qt is (or would be) in
# scripts/setup.sh windows installs the compilers and then calls this.
set -euo pipefail

qt_version=5.15.8
source_package=qtbase-opensource-src
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

cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/velmoscreen
options_hash=$(printf '%s\n' "${configure_options[@]}" | sha256sum | cut -c1-12)
prefix=$cache_root/qt-$qt_version-$target-$options_hash

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

# apt-get source needs a deb-src entry; take the address from the archive
# that apt already uses.
ensure_source_entry() {
    if grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
        return
    fi
    local uri
    uri=$(grep -m1 '^URIs:' /etc/apt/sources.list.d/debian.sources 2>/dev/null | awk '{print $2}')
    uri=${uri:-$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list 2>/dev/null)}
    [[ -n $uri ]] || { echo "windows-qt: no Debian archive found in apt's sources" >&2; exit 1; }
    printf 'Types: deb-src\nURIs: %s\nSuites: bookworm bookworm-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uri" | "${as_root[@]}" tee /etc/apt/sources.list.d/velmoscreen-deb-src.sources >/dev/null
    "${as_root[@]}" apt-get update -qq
}

started=$SECONDS
work=$cache_root/build-qt-$options_hash
rm -rf "$work" && mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
ensure_source_entry
(cd "$work" && apt-get source --download-only -qq "$source_package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
orig=$(ls "$work"/${source_package}_${qt_version}*.orig.tar.xz)
# Debian's own patches are for its Linux builds; the upstream tarball inside
# the source package is built as it stands.
tar -xJf "$orig" -C "$work"
src=$(echo "$work"/qtbase-everywhere-src-$qt_version)
mkdir "$work/build"
echo "windows-qt: configuring Qt $qt_version for $target (${configure_options[*]})"
(cd "$work/build" && "$src/configure" -prefix "$prefix" "${configure_options[@]}" > configure.log 2>&1) ||
    { tail -40 "$work/build/configure.log" >&2; exit 1; }
configured=$SECONDS
echo "windows-qt: configured in $((configured - started)) s; building"
(cd "$work/build" && make -j"$(nproc)" > make.log 2>&1 && make install > install.log 2>&1) ||
    { tail -40 "$work/build"/*.log >&2; exit 1; }
cp "$src"/LICENSE.* "$prefix/"
touch "$prefix/.complete"
echo "windows-qt: built and installed in $((SECONDS - configured)) s (configure $((configured - started)) s) into $prefix"
