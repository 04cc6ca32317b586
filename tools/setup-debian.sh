#!/bin/sh
# Installs the Debian 12 packages Brindle needs to build and test, when any is
# missing. As root it installs them; otherwise it prints the apt line to run.
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config qt6-base-dev libqt6sql6-sqlite \
libusb-1.0-0-dev liblua5.4-dev libmosquitto-dev libgtest-dev libgmock-dev libbenchmark-dev"
# The status page's BASIC accounts are stored as salted, slow password hashes.
PACKAGES="$PACKAGES libsodium-dev"
# The browser test of the status page: headless Chromium driven by Selenium.
PACKAGES="$PACKAGES chromium chromium-driver python3-selenium"
# The MQTT link's tests run a real broker (and make a certificate for its TLS
# listener); the gateway itself needs neither, so only the test build installs
# them.
[ "${WITH_TESTS:-0}" = 1 ] && PACKAGES="$PACKAGES mosquitto openssl"
# The libusb backend is tested against an emulated CM19A in a umockdev test bed.
[ "${WITH_TESTS:-0}" = 1 ] && PACKAGES="$PACKAGES umockdev gir1.2-umockdev-1.0 python3-gi"
# The gateway is also tested on an X display of its own, where it loads its tray.
[ "${WITH_TESTS:-0}" = 1 ] && PACKAGES="$PACKAGES xvfb"
# The memory benchmark runs the gateway beside a broker and on an X display.
[ "${WITH_BENCH:-0}" = 1 ] && PACKAGES="$PACKAGES mosquitto xvfb"
# clang builds the libFuzzer targets; optional, only the fuzz target needs it.
[ "${WITH_FUZZ:-0}" = 1 ] && PACKAGES="$PACKAGES clang libclang-rt-dev"
# The Debian packages (make deb, make deb-check); the build dependencies come
# from debian/control.
[ "${WITH_DEB:-0}" = 1 ] && PACKAGES="$PACKAGES debhelper dpkg-dev fakeroot lintian mmdebstrap"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Brindle needs these Debian packages:$missing" >&2
    echo "Install them with:" >&2
    echo "  sudo apt-get install -y$missing" >&2
    exit 1
fi
echo "Installing:$missing"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q || true
# shellcheck disable=SC2086
apt-get install -y -q --no-install-recommends $missing
