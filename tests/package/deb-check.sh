#!/bin/sh
# Installs the brindle and xap-hub packages into a clean Debian 12 root, checks
# where everything went, upgrades over the user's settings, removes and purges
# the packages, and looks for anything of them left behind.
#
#   tests/package/deb-check.sh FOLDER   (the .deb files of this architecture)
#
# Needs root and mmdebstrap; the root is made afresh and thrown away. The same
# script runs inside it with --inside.
set -eu

if [ "${1:-}" != --inside ]; then
    debs=$(cd "${1:?usage: deb-check.sh FOLDER-WITH-DEBS}" && pwd)
    arch=$(dpkg --print-architecture)
    files=""
    for p in brindle xap-hub; do
        f=$(ls "$debs/${p}_"*"_$arch.deb" 2>/dev/null | tail -n 1)
        [ -n "$f" ] || { echo "deb-check: no ${p}_*_$arch.deb in $debs" >&2; exit 1; }
        files="$files $f"
    done
    start=$(date +%s)
    mmdebstrap --variant=apt --quiet \
        --customize-hook='mkdir -p "$1/tmp/debs"' \
        --customize-hook="copy-in $files /tmp/debs" \
        --customize-hook="upload $0 /tmp/deb-check.sh" \
        --customize-hook='chroot "$1" sh /tmp/deb-check.sh --inside' \
        bookworm /dev/null
    echo "deb-check: passed in $(($(date +%s) - start)) s (with making the root)"
    exit 0
fi

# --- inside the root -------------------------------------------------------
export DEBIAN_FRONTEND=noninteractive
fail() {
    echo "deb-check: FAIL: $*" >&2
    exit 1
}
step() { echo "deb-check: $*"; }
cd /tmp/debs

# Every file of the root but the package manager's own records, caches and
# logs, and the account databases' backups that adding any user rewrites.
snapshot() {
    find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
        -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg -o -path /var/log \) \
        -prune -o -print | grep -v -x -e '/etc/passwd-' -e '/etc/group-' -e '/etc/shadow-' \
        -e '/etc/gshadow-' -e '/etc/.pwd.lock' | sort
}

# The dependencies are installed first, so that the file tree before the
# packages and after their purge can be compared.
deps=$(for f in ./*.deb; do dpkg-deb -f "$f" Depends; done | paste -sd, -)
apt-get satisfy -y -q --no-install-recommends "$deps" >/dev/null
snapshot >/tmp/before

step "installing"
t0=$(date +%s)
apt-get install -y -q --no-install-recommends ./brindle_*.deb ./xap-hub_*.deb >/tmp/install.log ||
    { cat /tmp/install.log; fail "apt-get install"; }
step "installed in $(($(date +%s) - t0)) s"

for f in /usr/lib/brindle/brindle /usr/lib/brindle/libkestrel.so \
    /usr/lib/brindle/libkestrel-ui.so /usr/lib/brindle/libbrindle-desktop.so \
    /usr/lib/brindle/brindle-setup-home /usr/share/brindle/HTML \
    /usr/share/brindle/defaults/Config/qixXap.ini /usr/bin/xap-send /usr/bin/xap-listen \
    /usr/bin/virtual-cm19a /usr/bin/kestrel-register /usr/bin/xap-hub /usr/bin/brindle-passwd \
    /lib/systemd/system/brindle.service /lib/systemd/system/xap-hub.service \
    /lib/udev/rules.d/60-cm19a.rules /usr/lib/sysusers.d/brindle.conf \
    /usr/share/doc/brindle/examples/cm19a-blacklist.conf; do
    [ -e "$f" ] || fail "$f is missing"
done
[ ! -e /lib/modprobe.d/cm19a-blacklist.conf ] || fail "the driver blacklist is active"
for tool in xap-send xap-listen virtual-cm19a xap-hub; do
    "$tool" --help >/dev/null || fail "$tool --help"
done
version=$(dpkg-query -W -f '${Version}' brindle)
[ "$(/usr/lib/brindle/brindle --version)" = "brindle ${version%%-*}" ] ||
    fail "brindle --version says '$(/usr/lib/brindle/brindle --version)', the package is $version"

# The user, and the units enabled with programs that exist.
getent passwd brindle | grep -q ':/var/lib/brindle:/usr/sbin/nologin$' || fail "user brindle"
id -nG brindle | grep -qw plugdev || fail "brindle is not in plugdev"
for unit in brindle xap-hub; do
    [ -L "/etc/systemd/system/multi-user.target.wants/$unit.service" ] || fail "$unit not enabled"
    sed -n 's/^ExecStart[A-Za-z]*=\([^ ]*\).*/\1/p' "/lib/systemd/system/$unit.service" |
        while read -r program; do [ -x "$program" ] || fail "$unit.service runs $program"; done
done
grep -q 'ATTRS{idVendor}=="0bc7"' /lib/udev/rules.d/60-cm19a.rules || fail "udev rule"

# The state folder: the user's, with the defaults and the plug-in registered.
[ "$(stat -c '%U:%G %a' /var/lib/brindle)" = "brindle:brindle 750" ] || fail "state folder"
cmp -s /var/lib/brindle/Config/qixXap.ini /usr/share/brindle/defaults/Config/qixXap.ini ||
    fail "the defaults were not seeded"
grep -q '/usr/lib/brindle/libkestrel.so' /var/lib/brindle/Config/registry.reg ||
    fail "the plug-in is not registered"
[ "$(readlink /var/lib/brindle/HTML)" = /usr/share/brindle/HTML ] || fail "HTML link"
[ -z "$(find /var/lib/brindle ! -user brindle)" ] || fail "state files not owned by brindle"

step "upgrading over the user's settings"
echo "; the user's own line" >>/var/lib/brindle/Config/qixXap.ini
cp /var/lib/brindle/Config/qixXap.ini /tmp/mine
dpkg -i ./brindle_*.deb ./xap-hub_*.deb >/dev/null
cmp -s /var/lib/brindle/Config/qixXap.ini /tmp/mine || fail "an upgrade replaced the user's file"

step "removing"
apt-get remove -y -q brindle xap-hub >/dev/null
[ ! -e /usr/lib/brindle ] && [ ! -e /lib/systemd/system/brindle.service ] ||
    fail "files left after remove"
cmp -s /var/lib/brindle/Config/qixXap.ini /tmp/mine || fail "remove lost the user's settings"

step "purging"
apt-get purge -y -q brindle xap-hub >/dev/null
[ ! -e /var/lib/brindle ] || fail "the state folder survived purge"
# The user itself stays, as Debian leaves system users in place.
snapshot >/tmp/after
if ! diff -u /tmp/before /tmp/after; then
    fail "files left after purge (above, +)"
fi
step "install, upgrade, remove and purge passed"
