# Shared by scripts/run and scripts/test: install what is missing, then build.
set -euo pipefail
CALLER_DIR=$(pwd)
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
# Paths inside the clone are hashed relative to it, so another clone reuses the cache.
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=true

PACKAGES=(cmake make g++ qt6-base-dev qt6-base-dev-tools libqt6sql6-sqlite libgl-dev libsqlite3-dev
          libqt6sql6-psql fonts-noto-cjk fonts-wqy-microhei qt6-translations-l10n sqlite3
          desktop-file-utils appstream ccache libpq-dev poppler-utils dpkg-dev lintian
          libsodium-dev pkg-config openssl)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {  # build PRESET [TARGET]
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j2 ${2:+--target "$2"}
}
