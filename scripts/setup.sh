#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: it only calls
# apt-get when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev          # libFuzzer and the sanitizer runtimes
  libgtest-dev libgmock-dev googletest
  libgcrypt20-dev                   # Twofish for the enciphered TCP link
  srecord                           # comparison in benchmarks and tests only
  clang-format
  qt6-base-dev                      # the desktop application (Qt 6 Widgets, QTest)
  fonts-liberation                  # Liberation Sans stands in for Arial
  xvfb xauth                        # screenshots and the desktop demo without a display
  xdotool                           # real keys and clicks for the desktop's real-input suite
  python3-jsonschema                # an independent check of the --json events against their schema
  mandoc                            # lints the man pages in the suite
  libcrypt-twofish-perl             # an independent Twofish that deciphers the recorded wire bytes
  ansible-core                      # the fleet collection's tests run the real orchestrator
  openssh-server                    # one roll-out of those tests goes over SSH, to an sshd of its own
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
