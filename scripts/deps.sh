# Sourced by ./run and ./test: installs the Debian packages the build needs, and only
# when one of them is missing (no apt call on a machine that has them all).
ZUZ_PACKAGES=(build-essential cmake ninja-build pkg-config libgtest-dev libbenchmark-dev
              qt6-base-dev fonts-wqy-microhei fonts-dejavu-core)

zuz_missing_packages() {
    local p missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$p")
    done
    echo "${missing[@]}"
}

zuz_install_packages() {
    local missing
    missing=$(zuz_missing_packages "$@")
    [ -z "$missing" ] && return 0
    echo "Installing missing packages: $missing"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || { echo "Please install as root: $missing" >&2; return 1; }
        sudo="sudo"
    fi
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

zuz_configure_and_build() {  # $1 build dir, rest: extra cmake arguments
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}
