# Sourced by scripts: whether this machine's kernel executes 32-bit x86
# programs, which some virtual machines' kernels do not. Probed once per
# script run with a program built by gcc -m32.
runs_32bit_programs() {
    if [ -z "${runs_32bit:-}" ]; then
        local probe=build/probe-32bit
        mkdir -p build
        printf 'int main(void) { return 0; }\n' >"$probe.c"
        runs_32bit=no
        gcc -m32 "$probe.c" -o "$probe" 2>/dev/null && "$probe" 2>/dev/null && runs_32bit=yes
    fi
    [ "$runs_32bit" = yes ]
}
