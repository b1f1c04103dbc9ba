# Debian 12 packages the build, the tests and the manual need. Sourced by scripts/test and scripts/run.
ZANTH_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-svg-dev libsdl2-dev libsdl2-mixer-dev libx11-dev
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  xvfb xauth xdotool imagemagick x11-utils sox fonts-ipafont-gothic fonts-dejavu-core
  pandoc weasyprint poppler-utils
)

# Installs whatever of ZANTH_PACKAGES is missing, in one non-interactive apt-get run.
zanth_install_deps() {
  local missing=() p
  for p in "${ZANTH_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
