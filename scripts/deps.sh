#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, and skips what is
# already there. Debian 12 (bookworm) or newer; as root, or as a user who may use sudo.
#   scripts/deps.sh [more packages...]
set -euo pipefail

packages=(g++ make cmake qt6-base-dev qt6-serialport-dev fonts-dejavu-core "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    {
      echo "These Debian packages are missing: ${missing[*]}"
      echo "Install them as root, then run this again:"
      echo "  su -c 'apt-get update && apt-get install -y --no-install-recommends ${missing[*]}'"
    } >&2
    exit 1
  fi
  sudo=(sudo)
fi
echo "    installing ${missing[*]} (a few minutes on a new machine)"
log=$(mktemp)
export DEBIAN_FRONTEND=noninteractive
if ! { "${sudo[@]}" apt-get update -q && "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "apt-get failed; the whole log is in $log" >&2
  exit 1
fi
rm -f "$log"
