# The harness alone, no emulator: the USB/IP host side is there, udevd runs with
# the project's rules, and the unprivileged user can list the bus.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
check test -e /sys/devices/platform/vhci_hcd.0/attach
check test -e /sys/module/usbhid
check pgrep -x systemd-udevd
check test -f /run/udev/rules.d/70-veltrano.rules
# udevd parses every rules file on start: the device test run names ours.
udevadm test /sys/bus/usb/devices/usb1 2>&1 | grep -q '70-veltrano.rules' ||
  fail "udevd did not read 70-veltrano.rules"
as_user id
out=$(as_user lsusb) || fail "lsusb failed as the unprivileged user"
echo "$out"
echo "$out" | grep -q '1d6b:0002' || fail "no vhci root hub listed"
finish
