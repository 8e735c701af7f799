#!/bin/sh
# Installs the Debian packages the build, the tests and the tools need, when
# any is missing. Runs apt-get as root, or through sudo.
set -eu

packages="cmake ninja-build g++ clang libclang-rt-dev libgtest-dev libgmock-dev
  libbenchmark-dev libarchive-dev pkg-config qt6-base-dev qt6-translations-l10n
  xvfb xauth fonts-ipafont-gothic
  dosfstools mtools jlha-utils default-jdk-headless zip unzip mame-tools liblhasa-dev python3
  dpkg-dev lintian shared-mime-info libglib2.0-bin desktop-file-utils"

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
if [ "$(id -u)" = 0 ]; then
  apt_get="apt-get"
elif command -v sudo >/dev/null 2>&1; then
  apt_get="sudo apt-get"
else
  echo "missing packages:$missing; run as root or install sudo" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$apt_get update -qq || true
# shellcheck disable=SC2086
$apt_get install -y -qq --no-install-recommends $missing
