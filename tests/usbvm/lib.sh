# Helpers for the cases run inside the test VM (bash, sourced). Every case runs
# in its own writable directory under /tmp; the tool runs as an unprivileged
# user in group plugdev, so only the udev rules give it the devices.
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
check() {
  "$@" || fail "$*"
}
skip() {
  echo "SKIP: $*"
  exit 77
}
finish() {
  [ $failed -eq 0 ] && echo "PASS" || echo "FAILED"
  exit $failed
}
as_user() {
  HOME=$PWD setpriv --reuid 65534 --regid 65534 --groups "$USBVM_PLUGDEV_GID" -- "$@"
}
