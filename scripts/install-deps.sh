#!/usr/bin/env bash
# Installs what the build and the tests need on Debian bookworm, only when missing.
# Never removes a package: a multiarch install that would remove amd64 packages fails instead.
set -euo pipefail

need_packages=(cmake make g++ googletest g++-mingw-w64-i686 binutils-mingw-w64-i686
               wine wine32:i386 xvfb xauth python3-pefile libssl-dev imagemagick
               clang libclang-rt-14-dev
               python3-cryptography nodejs time php-cli python3-flask
               g++-multilib libssl-dev:i386
               qemu-system-x86 linux-image-amd64 busybox-static bochs bochs-term
               chromium chromium-driver python3-selenium)

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${need_packages[@]}"; do have "$p" || missing+=("$p"); done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]}" >&2
    echo "install-deps: run as root (or install them) and try again" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "install-deps: enabling the i386 architecture (32-bit Wine needs it)"
    dpkg --add-architecture i386
fi

apt_install() {  # extra apt options, then nothing: installs "${missing[@]}"
    apt-get "$@" update -qq &&
    apt-get "$@" install -y -qq --no-install-recommends --no-remove "${missing[@]}"
}

echo "install-deps: installing ${missing[*]}"
if apt_install >/tmp/ciphrel-apt.log 2>&1; then
    exit 0
fi
echo "install-deps: the first install failed (last lines below); the i386 security index is" >&2
echo "install-deps: probably out of step with amd64, retrying against the main suites only" >&2
tail -n 5 /tmp/ciphrel-apt.log >&2

# A private sources list with the main suites only, no security suite.
priv=$(mktemp -d)
cat >"$priv/main.sources" <<SRC
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
: >"$priv/empty.list"
if apt_install -o Dir::Etc::SourceList="$priv/empty.list" \
               -o Dir::Etc::SourceParts="$priv" >/tmp/ciphrel-apt.log 2>&1; then
    rm -rf "$priv"
    exit 0
fi
rm -rf "$priv"
echo "install-deps: the install failed again; apt said:" >&2
tail -n 20 /tmp/ciphrel-apt.log >&2
echo "install-deps: could not install: ${missing[*]}" >&2
exit 1
