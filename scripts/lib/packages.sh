# Debian packages the project's scripts need, and their installation.
# Sourced by scripts/test, scripts/demo, scripts/package, scripts/bench and
# scripts/accuracy.

QUORVEL_TEST_PACKAGES=(
    cmake ninja-build g++ g++-multilib g++-mingw-w64-i686 googletest libcli11-dev libmuparser-dev libsndfile1-dev
    pkg-config zip unzip libmpfr-dev
    wine wine32:i386 clang-19 libclang-rt-19-dev locales
)

# scripts/demo: the native build and the quorvel program.
QUORVEL_DEMO_PACKAGES=(cmake ninja-build g++ googletest libcli11-dev libsndfile1-dev pkg-config)

# scripts/package: the win32 plug-in alone, zipped.
QUORVEL_PACKAGE_PACKAGES=(cmake ninja-build g++-mingw-w64-i686 googletest zip unzip)

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# The package index, refreshed once per script run. A registry in the middle
# of a sync can fail an index download for hours ("File has unexpected
# size ... Mirror sync in progress?"): that is a warning, retried once, and
# the install goes on with the indexes apt has.
apt_update() {
    [ -n "${quorvel_apt_updated:-}" ] && return 0
    quorvel_apt_updated=yes
    apt-get update -q && return 0
    echo "Warning: apt-get update failed; retrying once." >&2
    apt-get update -q && return 0
    echo "Warning: apt-get update failed again; installing from the package indexes at hand." >&2
    return 0
}

# Installs packages. When a set with i386 packages cannot be installed, the
# usual cause is version skew: amd64 libraries installed from the security
# suite whose i386 twins are missing from a half-synced index (multi-arch
# needs equal versions). Then the install is retried once with the security
# suite pinned below the base suite, for this one apt-get call (the
# machine's own preferences stay as they are); libraries then move to the
# base suite's point-release versions.
apt_install() {
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -q "$@" && return 0
    [[ " $* " == *":i386 "* ]] || return 1
    echo "Warning: installing $* failed; retrying with the security suite pinned below the base suite." >&2
    local parts
    parts=$(mktemp -d)
    cp -r /etc/apt/preferences.d/. "$parts"/ 2>/dev/null
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$parts/zz-quorvel-security-below-base.pref"
    apt-get -o Dir::Etc::PreferencesParts="$parts" install -y -q "$@"
    local status=$?
    rm -rf "$parts"
    return $status
}

# Installs the packages that are missing when running as root; otherwise
# names them and fails.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do package_installed "$pkg" || missing+=("$pkg"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing Debian packages: ${missing[*]}" >&2
        echo "Install them as root (apt-get install ${missing[*]}) or run this script as root." >&2
        return 1
    fi
    local pkgs=" ${missing[*]} "
    if [[ $pkgs == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386 || return 1
        quorvel_apt_updated=""
    fi
    echo "Installing: ${missing[*]}"
    apt_update
    apt_install "${missing[@]}"
}

# The playground (web/): clang 19's WebAssembly road (wasm-ld, libc++ and
# wasi-libc for wasm32, the compiler's builtins) and Debian's Chromium for
# the browser tests. Node.js 20 and npm come with the machine.
QUORVEL_WEB_PACKAGES=(clang-19 lld-19 libc++-19-dev-wasm32 libclang-rt-19-dev-wasm32 chromium)

# The web packages, and a check that Node.js 20 or later and npm are there.
ensure_web_packages() {
    ensure_packages "${QUORVEL_WEB_PACKAGES[@]}" || return 1
    local major
    major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
    if [ "$major" -lt 20 ] || ! command -v npm >/dev/null; then
        echo "The playground needs Node.js 20 or later with npm (found: node $(node --version 2>/dev/null || echo none))." >&2
        return 1
    fi
}
