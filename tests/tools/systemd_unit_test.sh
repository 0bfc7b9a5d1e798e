#!/bin/sh
# systemd-analyze verify on the shipped unit, its paths pointing at the built
# zxctl; skipped (77) where Debian's systemd is not installed.
set -eu
command -v systemd-analyze >/dev/null 2>&1 || { echo "SKIPPED: systemd-analyze not installed (Debian's systemd)" >&2; exit 77; }
dir=$(mktemp -d); trap 'rm -rf "$dir"' EXIT
sed "s|@ZXCTL@|$2|g; s|@PROFILE@|$dir/profile.toml|g" "$1" > "$dir/zxctl-daemon.service"
systemd-analyze verify "$dir/zxctl-daemon.service"
