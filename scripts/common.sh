# Shared set-up for scripts/run and scripts/test: install what is missing, configure and build.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build}"

install_packages() {
    local missing=()
    while IFS= read -r pkg; do
        pkg="${pkg%%#*}"; pkg="$(echo "$pkg" | tr -d '[:space:]')"
        [ -n "$pkg" ] || continue
        dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
    done < "$ROOT/scripts/packages.txt"
    if [ "${#missing[@]}" -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
            -o DPkg::Lock::Timeout=300 "${missing[@]}"
    fi
}

configure_and_build() {
    export CCACHE_BASEDIR="$ROOT"
    local jobs
    jobs="$(nproc 2>/dev/null || echo 2)"
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}"
    cmake --build "$BUILD_DIR" -j "$jobs"
}
