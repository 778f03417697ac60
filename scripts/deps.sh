#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the demo need, only when one is missing.
set -euo pipefail
PKGS=(g++ make cmake pkg-config libgtk2.0-dev libtinyxml-dev libjson-glib-dev gettext
      libgtest-dev libgmock-dev xvfb xauth xdotool imagemagick x11-utils iproute2 locales
      fonts-dejavu-core clang-14 libclang-rt-14-dev python3 libmodbus-dev
      dpkg-dev file lintian)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "deps: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  for i in 1 2 3 4 5; do
    if $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
         --no-install-recommends "${missing[@]}" >/dev/null; then break; fi
    echo "deps: apt busy or failed, retry $i"; sleep 5
  done
fi
# Russian catalogue tests run with LANG=C.UTF-8 LANGUAGE=ru, which needs no generated locale.
