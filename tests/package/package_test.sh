#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch root with dpkg -x and
# runs the programs from there.   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/zandorupdate_*.deb)
dpkg-deb --field "$deb" Depends | grep -q libqt6widgets6 || { echo "no Qt dependency"; exit 1; }
dpkg -x "$deb" "$work/root"
usr=$work/root/usr

[ "$("$usr/bin/zandor" --version)" = "ZandorUpdate version 2.4.5 GA Build 1" ]
(cd "$work" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$usr/bin/zandorupdate" -V -F version.txt)
printf 'major=2\r\nminor=4\r\npoint=5\r\nphase=5\r\nbuild=1\r\n\0' | cmp - "$work/version.txt"
"$usr/bin/zandor-sim" --help >/dev/null 2>&1 || [ $? -eq 2 ]

for file in share/applications/zandorupdate.desktop \
            share/icons/hicolor/48x48/apps/zandorupdate.png \
            share/icons/hicolor/256x256/apps/zandorupdate.png \
            share/doc/zandorupdate/ZandorManagerHelp.htm \
            share/man/man1/zandorupdate.1 share/man/man1/zandor.1 share/man/man1/zandor-sim.1 \
            share/bash-completion/completions/zandor; do
  [ -s "$usr/$file" ] || { echo "the package lacks $file"; exit 1; }
done
grep -q '^Exec=zandorupdate$' "$usr/share/applications/zandorupdate.desktop"
bash -n "$usr/share/bash-completion/completions/zandor"
# The completion offers the commands, and an update's options.
(
  set +u
  source "$usr/share/bash-completion/completions/zandor"
  COMP_WORDS=(zandor up)
  COMP_CWORD=1
  _zandor
  [ "${COMPREPLY[*]}" = update ]
  COMP_WORDS=(zandor update --par)
  COMP_CWORD=2
  _zandor
  [ "${COMPREPLY[*]}" = --parallel ]
)
echo "package ok: $(basename "$deb")"
