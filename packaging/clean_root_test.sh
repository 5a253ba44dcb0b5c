#!/usr/bin/env bash
# Installs the built package on a clean Debian 12 root and runs the demo there, as the
# service user, with the unit's umask and with nothing but a loopback network (what
# PrivateNetwork=yes gives the unit). Fails when apt cannot satisfy the package's
# dependencies, when a notebook lacks a module, or when what the package sets up
# (user, working directory, units, man page, completion) is missing.
#
#   packaging/clean_root_test.sh [BUILD_DIR [APT_SOURCES]]
#
# BUILD_DIR holds vordak_*.deb (make deb; default build). APT_SOURCES is the sources file
# the root's apt uses (default: this machine's Debian sources). Needs root (chroot,
# mounts) and mmdebstrap; downloads the Debian packages through apt. KEEP_ROOT=1 keeps
# the root for a look afterwards.
set -euo pipefail

build=${1:-build}
sources=${2:-/etc/apt/sources.list.d/debian.sources}
fail() { echo "clean-root: $*" >&2; exit 1; }

((EUID == 0)) || fail "needs root (chroot and mounts)"
command -v mmdebstrap >/dev/null || fail "needs mmdebstrap (apt-get install mmdebstrap)"
[[ -f $sources ]] || fail "no apt sources file $sources"
debs=("$build"/vordak_*_amd64.deb)
[[ -f ${debs[0]} ]] || fail "no vordak_*_amd64.deb in $build: run make deb"
deb=${debs[0]}

root=$(mktemp -d /var/tmp/vordak-clean-root.XXXXXX)
# Runs a command in the root with /proc and /dev mounted, as on a server, in namespaces of
# its own that take the mounts and every process along when it ends. With NET=lo the
# command has a loopback network and nothing else, as PrivateNetwork=yes gives the unit.
in_root() {
  unshare --mount --pid --fork ${NET:+--net} env ROOT="$root" NET="${NET:-}" bash -euo pipefail -c '
    mount --make-rprivate /
    mount -t proc proc "$ROOT/proc"
    mount --rbind /dev "$ROOT/dev"
    [[ -z $NET ]] || ip link set lo up
    exec chroot "$ROOT" "$@"' in_root "$@"
}
cleanup() {
  if [[ ${KEEP_ROOT:-0} == 1 ]]; then echo "clean-root: kept $root"; else rm -rf "$root"; fi
}
trap cleanup EXIT

echo "clean-root: a minimal Debian 12 (Essential packages and apt) in $root"
mmdebstrap --quiet --variant=apt bookworm "$root" "$sources"

echo "clean-root: installing $(basename "$deb") with apt, without recommended packages"
cp "$deb" "$root/tmp/vordak.deb"
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /tmp/vordak.deb \
  >"$root/tmp/apt.log" 2>&1 || { tail -n 30 "$root/tmp/apt.log" >&2; fail "apt could not install the package"; }
echo "clean-root: $(grep -c '^Setting up' "$root/tmp/apt.log") packages set up"

echo "clean-root: what the package set up"
chroot "$root" getent passwd vordak
chroot "$root" stat -c '%n %a %U:%G' /srv/vordak
[[ $(chroot "$root" stat -c '%a %U' /srv/vordak) == "750 vordak" ]] || fail "/srv/vordak is not 0750 vordak"
for file in /usr/lib/systemd/system/vordak.service /usr/lib/systemd/system/vordak-prune.timer \
  /usr/share/man/man1/vordak.1.gz /usr/share/bash-completion/completions/vordak \
  /usr/share/doc/vordak/copyright /usr/share/doc/vordak/changelog.gz; do
  [[ -f $root$file ]] || fail "missing $file"
done
version=$(dpkg-deb -f "$deb" Version)
[[ $(zcat "$root/usr/share/doc/vordak/changelog.gz" | head -n 1) == "vordak ($version) "* ]] ||
  fail "changelog.gz does not start with version $version"
file "$root/usr/bin/vordak" "$root"/usr/lib/vordak/*.so | sed "s|$root||; s/, BuildID[^,]*//"
in_root vordak --version  # $ORIGIN run paths need /proc

echo "clean-root: vordak demo as user vordak, umask 0027, loopback only"
NET=lo in_root setpriv --reuid=vordak --regid=vordak --clear-groups \
  env -i HOME=/srv/vordak PATH=/usr/bin:/bin LANG=C.UTF-8 \
  sh -c "umask 0027 && cd /srv/vordak && vordak demo --work-dir /srv/vordak/demo" \
  >"$root/tmp/demo.log" 2>&1 || { tail -n 40 "$root/tmp/demo.log" >&2; fail "the demo failed"; }
tail -n 12 "$root/tmp/demo.log"
db=$root/srv/vordak/demo/db/vrd.duckdb
[[ -f $db ]] || fail "the demo made no database"
chroot "$root" stat -c '%n %a %U:%G' /srv/vordak/demo/db/vrd.duckdb /srv/vordak/demo/outputs/html/vrd_dashboard.html
# What holds the portfolio's data: the database, the outputs and the seasons (executed
# notebooks, records, rejected rows). The copied notebooks are the packaged ones.
world=$(cd "$root/srv/vordak/demo" && find db outputs seasons -perm /o=rwx -not -type l)
[[ -z $world ]] || fail "open to other users: $world"
echo "clean-root: passed"
