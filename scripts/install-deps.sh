#!/bin/sh
# Installs the Debian packages the build needs, but only those that are missing,
# so that `make test` and `make run` work on a fresh Debian 12 machine. Extra
# packages for one target (the fuzzer's clang) may be named as arguments.
set -eu

PACKAGES="build-essential cmake pkg-config qt6-base-dev libcurl4-openssl-dev libicu-dev libavcodec-dev \
libavformat-dev libssl-dev qt6-httpserver-dev qt6-websockets-dev libsodium-dev liblua5.4-dev libtag1-dev libbenchmark-dev curl tzdata dbus-daemon ffmpeg openssl $*"

missing=""
for pkg in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $pkg"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
else
    echo "Skyvane needs these packages:$missing" >&2
    echo "Install them as root (apt-get install$missing) and run make again." >&2
    exit 1
fi

echo "Installing:$missing"
$SUDO apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
