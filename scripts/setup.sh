# Shared by ./scripts/test and ./scripts/demo: installs the Debian packages the build needs
# (only those missing) and configures and builds into build/.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TARVO_BUILD_DIR:-$ROOT/build}"

PACKAGES=(
    # build
    cmake ninja-build g++ clang pkg-config
    # the lint test
    clang-format clang-tidy
    # the control and the Designer plugin (Designer's CMake files need Qt's OpenGL ones)
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools libqt6uitools6 libqt6designer6 libqt6opengl6-dev
    # transport and answers
    libcurl4-openssl-dev libpugixml-dev
    # the reference server and its stores
    libmicrohttpd-dev libgnutls28-dev libsqlite3-dev libpq-dev postgresql libsodium-dev openssl
    libcli11-dev libsystemd-dev
    # the desktop application
    qtkeychain-qt6-dev
    # tests, fuzzers, benchmarks, screenshots
    libcpp-httplib-dev libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev valgrind
    xvfb xauth curl
    # packages, their desktop metadata, and the service under a booted Debian container
    dpkg-dev fakeroot lintian desktop-file-utils appstream debootstrap systemd-container
    # high availability: the load balancer of the recipe
    haproxy
)

install_missing_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    if ((${#missing[@]} == 0)); then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# The CMake option that compiles through ccache, when the machine has it.
compiler_launcher() {
    if command -v ccache >/dev/null; then echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache; fi
}

# configure_and_build [target...]: every target when none is named.
configure_and_build() {
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
        -DTARVO_WERROR=ON $(compiler_launcher)
    local targets=()
    for t in "$@"; do targets+=(--target "$t"); done
    cmake --build "$BUILD" --parallel "$(nproc)" "${targets[@]}"
}
