# What a test needs from the machine (a tool, a package) is asserted: missing, the
# test fails naming it. Only a deliberate partial run (VELTRANO_ALLOW_SKIPS=1) skips
# it instead, with exit status 77. Sourced by the shell tests (POSIX sh).
missing() {
  echo "missing: $*"
  [ "${VELTRANO_ALLOW_SKIPS:-}" = 1 ] && exit 77
  exit 1
}
