#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need; does nothing when all are present.
set -euo pipefail
pkgs=(
  g++ cmake ninja-build pkg-config ccache make clang-format
  qt6-base-dev qt6-multimedia-dev qt6-image-formats-plugins qt6-svg-dev qt6-qpa-plugins
  zlib1g-dev libdeflate-dev libgtest-dev libgmock-dev fonts-dejavu-core
  libqscintilla2-qt6-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  qt6-webengine-dev fonts-liberation2 qt6-pdf-dev adwaita-icon-theme
  python3 python3-pyftpdlib vsftpd libarchive-tools 7zip poppler-utils curl time
  xvfb xauth xdotool imagemagick libreoffice-writer-nogui
  id3v2 eyed3 python3-mutagen sox lame
  pxlib-dev python3-dbfread dbview fontconfig libfontconfig-dev
  libsane-dev sane-utils
  python3-numpy python3-pil libwmf-bin fonts-urw-base35 libpng-dev libtiff-dev
  libssl-dev openssl python3-openssl
  antiword catdoc libwps-tools libreoffice-calc-nogui gstreamer1.0-tools abiword
  fusefat dosfstools exfatprogs exfat-fuse fuse dbus-daemon
  libssh-dev openssh-server openssh-client
  libarchive-dev rsync
  dpkg-dev file lintian desktop-file-utils appstream
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# The SFTP tests start sshd themselves with a private configuration; a system sshd that the
# package would start is never needed, so services are kept from starting during the install
# (Docker images already have such a policy; it is left as it was).
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
  $SUDO chmod 755 "$policy"
  made_policy=1
fi
trap 'if [ "$made_policy" = 1 ]; then $SUDO rm -f "$policy"; fi' EXIT
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
