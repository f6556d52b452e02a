#!/bin/sh
# Builds the Debian package from this source tree and checks it with lintian:
#   scripts/package.sh
# Release build with Debian's hardening flags in build-package/ (tests are not
# built), then cpack -G DEB there; the package is written to
# build-package/package/talvek-mwl_<version>_<architecture>.deb.
set -e
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-package"
"$root/scripts/setup.sh" dpkg-dev file lintian
# Debian's hardening: format checks, fortify, stack protector, PIE, relro and
# immediate binding, as every Debian package is built.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DMWL_PACKAGE=ON \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" --parallel
rm -f "$build"/package/*.deb
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/package/*.deb)"
echo "lintian $deb:"
# Every tag is listed; an error fails the build.
lintian --display-info --fail-on error "$deb"
echo "$deb"
