#!/usr/bin/env bash
# Installs the package on a Debian 12 root that has nothing else (mmdebstrap, minbase), as a
# user's apt would, and starts the programs there: the version without a display, the
# desktop entry's command, and the window on a virtual display with a screenshot.
#   packaging/try-on-fresh-debian.sh dist/padcom_<version>_amd64.deb [screenshot.png]
# As root (chroot); downloads about 150 MB from Debian's mirror. Not part of CI.
set -euo pipefail
deb=$(realpath "$1")
shot=${2:-}
bash "$(dirname "$0")/../scripts/deps.sh" mmdebstrap imagemagick
root=$(mktemp -d)
trap 'umount "$root/proc" 2>/dev/null || true; rm -rf "$root"' EXIT
say() { printf '\n$ %s\n' "$*"; }

mmdebstrap --variant=minbase --quiet bookworm "$root" http://deb.debian.org/debian
cp "$deb" "$root/tmp/"
mount -t proc proc "$root/proc"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

say "apt-get update && apt-get install ./$(basename "$deb")"
in_root apt-get update -q >/dev/null
in_root sh -c "cd /tmp && apt-get install -y -q ./$(basename "$deb")" >"$root/tmp/install.log" 2>&1 \
  || { cat "$root/tmp/install.log"; exit 1; }
grep -E '^(Setting up padcom|[0-9]+ upgraded)' "$root/tmp/install.log"
say padcom --version
in_root padcom --version
say padsim --version
in_root padsim --version
say padtest --version
in_root padtest --version
say "desktop entry: $(grep ^Exec= "$root/usr/share/applications/padcom.desktop")"
in_root sh -c 'command -v "$(sed -n "s/^Exec=//p" /usr/share/applications/padcom.desktop)"'
say padcom, no display
in_root padcom || echo "(exit $?)"

say "padcom on a virtual display (xvfb and xwd installed for the test only)"
in_root apt-get install -y -q --no-install-recommends xvfb xauth x11-apps >/dev/null 2>&1
in_root xvfb-run -a -s "-screen 0 800x600x24" sh -c \
  'padcom & sleep 4; xwd -root -silent > /tmp/screen.xwd; kill $!; wait $! 2>/dev/null; echo "window up, closed by the test"'
if [ -n "$shot" ]; then
  convert "$root/tmp/screen.xwd" -crop 560x400+0+0 "$shot"
  echo "screenshot: $shot"
fi
