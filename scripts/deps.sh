# Debian 12 packages, in three lists. Sourced by the scripts that need them:
#   ZANTH_BUILD_PACKAGES    building and running the program (scripts/run)
#   ZANTH_TEST_PACKAGES     the tests, the man page and the PDF manuals (scripts/test installs both lists)
#   ZANTH_PACKAGE_PACKAGES  making the Debian package and checking it in a fresh root (scripts/package)
ZANTH_BUILD_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-svg-dev qt6-websockets-dev libsdl2-dev libsdl2-mixer-dev libx11-dev libxi-dev libqrencode-dev
  fonts-dejavu-core fonts-ipafont-gothic qt6-translations-l10n
)
ZANTH_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  xvfb xauth xdotool imagemagick x11-utils sox ser2net python3-websockets
  pandoc weasyprint poppler-utils
  desktop-file-utils appstream
  chromium chromium-driver python3-selenium
)
ZANTH_PACKAGE_PACKAGES=(
  pandoc weasyprint dpkg-dev file debootstrap lintian
)

# zanth_install_deps PACKAGE...: installs whichever of the packages are missing, in one apt-get run whose
# progress stays visible.
zanth_install_deps() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "== Installing ${#missing[@]} Debian packages (this may take a few minutes): ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -q || return 1
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" ||
    return 1
  echo "== Installed: ${missing[*]}"
}
