#!/usr/bin/env bash
# Installs, with apt-get, whatever Quorvel needs to build, test and run that is not
# already on this Debian machine, or the packages named as arguments (the benchmarks' own).
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=("$@")
[ ${#packages[@]} -gt 0 ] || packages=(
    build-essential cmake ninja-build pkg-config   # toolchain
    clang libclang-rt-14-dev                       # fuzzing and sanitizer runtime
    libplist-dev                                   # property lists
    libacl1-dev                                    # access-control lists
    libicu-dev                                     # dates in patterns (ICU)
    libcurl4-openssl-dev                           # mailing the log (SMTP)
    libsystemd-dev                                 # the login manager (no sleep, power off)
    libgtest-dev                                   # unit tests
    python3                                        # interoperability tests (plistlib)
    python3-aiosmtpd                               # the mail tests' SMTP server
    dbus-daemon                                    # the login-manager tests' private bus
    dosfstools                                     # a FAT volume in the case tests (as root)
    qt6-base-dev qt6-svg-dev libgl-dev             # the desktop application (Qt 6 Widgets)
    qt6-qpa-plugins fonts-dejavu-core              # offscreen rendering: GUI tests, screenshots
    scdoc                                          # the manual pages
    desktop-file-utils appstream                   # checking the desktop files and metadata
    dpkg-dev file                                  # the Debian package (dpkg-shlibdeps)
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
