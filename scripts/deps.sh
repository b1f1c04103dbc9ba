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
  chromium chromium-driver python3-selenium nodejs
)
# npm packages, pinned: axe-core (the remote page's browser test) and Lighthouse (bench/page_figures.py, a
# version that runs on Debian 12's Node).
ZANTH_NPM_PACKAGES=(axe-core@4.14.1 lighthouse@12.2.3)
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

# zanth_npm_dir NAME: installs the pinned version of npm package NAME (from ZANTH_NPM_PACKAGES) once, in a folder
# of its own under ~/.cache/zanth-emulator/npm, and prints the package's folder.
zanth_npm_dir() {
  local pinned p
  for p in "${ZANTH_NPM_PACKAGES[@]}"; do [ "${p%@*}" = "$1" ] && pinned=$p; done
  [ -n "${pinned:-}" ] || { echo "zanth_npm_dir: $1 is not pinned in scripts/deps.sh" >&2; return 1; }
  local dir=${ZANTH_NPM_CACHE:-$HOME/.cache/zanth-emulator/npm}/$pinned
  if [ ! -e "$dir/node_modules/$1/package.json" ]; then
    # Debian's own nodejs comes without npm; a Node.js that brings its own npm is left as it is.
    command -v npm >/dev/null || zanth_install_deps npm >&2 || return 1
    echo "== Installing $pinned from npm" >&2
    npm install --prefix "$dir" --no-save --no-audit --no-fund --loglevel=error "$pinned" >&2 || return 1
  fi
  echo "$dir/node_modules/$1"
}
