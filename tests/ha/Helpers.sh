# Shared by the ha scripts: counting failures and waiting for a condition with a deadline.
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# until_true SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds or time is up.
until_true() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        (($(now_ms) < deadline)) || return 1
        sleep 0.05
    done
}
