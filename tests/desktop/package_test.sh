#!/bin/sh
# Builds the Debian package the way a release is built (optimised, without the
# tests; configured with CMake's default prefix, which the package must not
# follow: it installs under /usr), unpacks it with dpkg-deb into a scratch
# folder, checks that every installed file is in it, and runs the unpacked
# binary: --version, and the first start of a new user from the menu.
# lintian, when present, reviews the package; what it says is shown, not judged.
#   package_test.sh SOURCE_DIR SCRATCH_DIR
# SCRATCH_DIR/build is kept between runs, so later runs only rebuild changes.
set -eu
src=$1
scratch=$2
build=$scratch/build
root=$scratch/root

launcher=
command -v ccache >/dev/null && launcher=-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLIMAR_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr/local $launcher >/dev/null
cmake --build "$build" -j2
rm -f "$build"/pellimar_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/pellimar_*.deb)
echo "package: $(basename "$deb")"

rm -rf "$root"
dpkg-deb -x "$deb" "$root"
fails=0
for file in usr/bin/pellimar usr/share/applications/pellimar.desktop usr/share/mime/packages/pellimar.xml \
    usr/share/man/man1/pellimar.1.gz usr/lib/systemd/user/pellimar-fetch.service \
    usr/lib/systemd/user/pellimar-fetch.timer usr/lib/systemd/user/pellimar-watch.service usr/share/doc/pellimar/copyright usr/share/doc/pellimar/README.md; do
  [ -f "$root/$file" ] || { echo "FAIL: $file is missing"; fails=1; }
done
for size in 16 22 24 32 48 64 128 256; do
  icon=usr/share/icons/hicolor/${size}x${size}/apps/pellimar.png
  file "$root/$icon" | grep -q "PNG image data, $size x $size," || { echo "FAIL: $icon is not a $size x $size PNG"; fails=1; }
done
grep -qx 'ExecStart=/usr/bin/pellimar --fetch --notify' "$root/usr/lib/systemd/user/pellimar-fetch.service" \
  || { echo "FAIL: the fetch service does not run /usr/bin/pellimar --fetch --notify"; fails=1; }
grep -qx 'ExecStart=/usr/bin/pellimar --watch' "$root/usr/lib/systemd/user/pellimar-watch.service" \
  || { echo "FAIL: the watch service does not run /usr/bin/pellimar --watch"; fails=1; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
case "$depends" in *libqt6widgets6*) ;; *) echo "FAIL: Depends lacks the Qt libraries"; fails=1 ;; esac

version=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/pellimar" --version)
echo "--version: $version"
case "$version" in "Pellimar "[0-9]*) ;; *) echo "FAIL: unexpected --version output"; fails=1 ;; esac
if [ -n "$(cd "$root" && find . -path ./usr -prune -o -type f -print)" ]; then
  echo "FAIL: the package installs files outside /usr"; fails=1
fi

# The first start from the menu, with the unpacked binary (77: no desktop here).
status=0
/usr/bin/python3 "$src/tests/e2e/first_start_e2e.py" "$root/usr/bin/pellimar" "$src" || status=$?
case $status in 0) ;; 77) echo "first start: skipped" ;; *) echo "FAIL: the first start"; fails=1 ;; esac

if command -v lintian >/dev/null; then
  echo "lintian:"
  lintian --tag-display-limit 0 "$deb" || true
fi
[ $fails -eq 0 ] && echo "package: ok"
exit $fails
