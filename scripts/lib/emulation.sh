# Sourced by scripts: 32-bit x86 programs (the linux32 tests directly, the
# win32 tests under wine) run on every machine. Where the kernel executes
# them, nothing is needed. Where it does not (some hypervisors offer no
# 32-bit mode: "Exec format error"), qemu's user-mode emulation is registered
# in binfmt_misc for i386 ELF programs, with the fix-binary flag so that it
# also serves the programs wine starts. Debian 12's own qemu (7.2) runs plain
# i386 programs but not wine (it treats MAP_FIXED_NOREPLACE as a hint);
# qemu-user from the backports suite runs both.
#
# ensure_32bit_runner sets QUORVEL_32BIT_RUNNER to "native" or "qemu" and
# exports QUORVEL_EMULATOR=qemu-i386 under emulation, so that the few tests
# that depend on a processor rule the emulator does not follow can tell
# (docs/reliability.md lists them). It fails, with the reason in
# QUORVEL_32BIT_WHY, where 32-bit programs cannot be made to run.

QUORVEL_BINFMT=/proc/sys/fs/binfmt_misc
# i386 ELF executables and shared objects (e_machine 3, e_type 2 or 3).
QUORVEL_I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
QUORVEL_I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# The oldest qemu that runs wine.
QUORVEL_QEMU_MAJOR=8

# Builds build/probe-32bit once: a do-nothing 32-bit program.
build_32bit_probe() {
    local probe=build/probe-32bit
    mkdir -p build
    [ -x "$probe" ] && return 0
    printf 'int main(void) { return 0; }\n' >"$probe.c"
    gcc -m32 "$probe.c" -o "$probe" 2>/dev/null
}

qemu_registered() {
    [ -f "$QUORVEL_BINFMT/qemu-i386" ] && head -1 "$QUORVEL_BINFMT/qemu-i386" | grep -qx enabled
}

qemu_major() {
    local version
    version=$(qemu-i386 --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
    echo "${version:-0}"
}

# qemu-user from the release's backports suite. The suite is added as a
# source pinned at 100, so that nothing else on the machine moves to it.
install_backported_qemu() {
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    local suite=$codename-backports
    if ! grep -rqs "$suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then
        printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
            "$suite" >/etc/apt/sources.list.d/quorvel-backports.sources
        printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n' "$suite" >/etc/apt/preferences.d/quorvel-backports
        apt_update
    fi
    apt_install "qemu-user/$suite"
}

# Registers qemu-i386 for i386 ELF programs, replacing an entry of the same
# name that lacks the fix-binary flag (wine's programs would not find it).
register_qemu() {
    if [ ! -f "$QUORVEL_BINFMT/register" ]; then
        mount -t binfmt_misc binfmt_misc "$QUORVEL_BINFMT" || return 1
    fi
    if [ -f "$QUORVEL_BINFMT/qemu-i386" ]; then
        grep -q '^flags: .*F' "$QUORVEL_BINFMT/qemu-i386" && qemu_registered && return 0
        echo -1 >"$QUORVEL_BINFMT/qemu-i386" || return 1
    fi
    printf ':qemu-i386:M::%s:%s:%s:F\n' "$QUORVEL_I386_MAGIC" "$QUORVEL_I386_MASK" "$(command -v qemu-i386)" \
        >"$QUORVEL_BINFMT/register"
}

ensure_32bit_runner() {
    [ -n "${QUORVEL_32BIT_RUNNER:-}" ] && return 0
    QUORVEL_32BIT_WHY=""
    if ! build_32bit_probe; then
        QUORVEL_32BIT_WHY="gcc -m32 cannot build a program (g++-multilib missing?)"
        return 1
    fi
    if ! qemu_registered && build/probe-32bit 2>/dev/null; then
        QUORVEL_32BIT_RUNNER=native
        return 0
    fi
    if ! qemu_registered || [ "$(qemu_major)" -lt "$QUORVEL_QEMU_MAJOR" ]; then
        if [ "$(id -u)" -ne 0 ]; then
            QUORVEL_32BIT_WHY="this kernel cannot execute 32-bit x86 programs; as root, scripts/test sets up qemu-user (>= $QUORVEL_QEMU_MAJOR, from backports) in binfmt_misc for them"
            return 1
        fi
        echo "This kernel cannot execute 32-bit x86 programs: setting up qemu's user-mode emulation for them."
        if [ "$(qemu_major)" -lt "$QUORVEL_QEMU_MAJOR" ] && ! install_backported_qemu; then
            QUORVEL_32BIT_WHY="qemu-user >= $QUORVEL_QEMU_MAJOR could not be installed from backports"
            return 1
        fi
        if ! register_qemu; then
            QUORVEL_32BIT_WHY="qemu-i386 could not be registered in binfmt_misc"
            return 1
        fi
    fi
    if ! build/probe-32bit 2>/dev/null; then
        QUORVEL_32BIT_WHY="32-bit programs do not run, even through qemu-i386"
        return 1
    fi
    QUORVEL_32BIT_RUNNER=qemu
    export QUORVEL_EMULATOR=qemu-i386
}
