#!/usr/bin/env bash
# The Debian package. contents: made by cpack, what it holds, lintian without errors.
# install: as root on a machine without the package, it installs, runs and leaves no trace.
set -euo pipefail
mode=$1 build=$2 out=$3 version=$4
fail() { echo "FAIL: $*"; exit 1; }
arch=$(dpkg --print-architecture)
deb=$out/pelta_${version}_${arch}.deb

if [ "$mode" = contents ]; then
  rm -rf "$out"
  (cd "$build" && cpack -G DEB -B "$out") >"$out.log" 2>&1 || { cat "$out.log"; fail "cpack"; }
  [ -f "$deb" ] || { ls "$out"; fail "no $deb"; }
  [ "$(dpkg-deb -f "$deb" Package)" = pelta ] || fail "package name"
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libgtk2.0-0 libjson-glib-1.0-0 libtinyxml2.6.2v5; do
    [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
  done
  dpkg-deb --contents "$deb" | awk '{print $6}' >"$out/contents"
  for path in bin/pelta-flasher bin/pelta-cli bin/pelta-sim \
              share/pelta/UI/Main.glade share/pelta/Pelta.xml share/pelta/samples/Pelta-ru.xml \
              share/pelta/locale/ru/LC_MESSAGES/messages.mo \
              share/applications/pelta-flasher.desktop share/icons/hicolor/scalable/apps/pelta-flasher.svg \
              share/man/man1/pelta-flasher.1.gz share/man/man1/pelta-cli.1.gz share/man/man1/pelta-sim.1.gz \
              share/doc/pelta/copyright share/doc/pelta/changelog.gz; do
    grep -qx "\./usr/$path" "$out/contents" || fail "the package lacks /usr/$path"
  done
  if grep -E 'settings\.xml|/res/|/po/' "$out/contents"; then fail "build-tree files in the package"; fi
  command -v lintian >/dev/null || fail "lintian is missing (bash scripts/deps.sh installs it)"
  lintian --fail-on error "$deb" | tee "$out/lintian" || fail "lintian reports errors"
  echo "package ok: $(wc -l <"$out/contents") paths, $(grep -c '^W:' "$out/lintian" || true) lintian warnings"
  exit 0
fi

[ "$(id -u)" -eq 0 ] || { echo "SKIP: dpkg -i needs root"; exit 77; }
if dpkg-query -W -f='${Status}' pelta 2>/dev/null | grep -q installed; then
  echo "SKIP: a pelta package is already installed here; not replacing it"; exit 77
fi
for p in pelta-flasher pelta-cli pelta-sim; do
  [ ! -e "/usr/bin/$p" ] || { echo "SKIP: /usr/bin/$p exists outside a package"; exit 77; }
done
[ -f "$deb" ] || fail "no $deb (package_contents makes it)"
removed=0
cleanup() { [ "$removed" -eq 1 ] || dpkg -r pelta >/dev/null 2>&1 || true; }
trap cleanup EXIT
dpkg -i "$deb" || fail "dpkg -i"
/usr/bin/pelta-cli --help | grep -q '^usage: pelta-cli' || fail "installed pelta-cli --help"
dpkg -r pelta || fail "dpkg -r"
removed=1
for p in /usr/bin/pelta-cli /usr/share/pelta; do [ ! -e "$p" ] || fail "$p left after dpkg -r"; done
echo "dpkg -i, pelta-cli --help, dpkg -r ok"
