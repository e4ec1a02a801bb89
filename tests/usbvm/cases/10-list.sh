# -D over real USB: two modules, found through libusb by the unprivileged user
# because the udev rules open them to plugdev; one held by another program
# shows the error row.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
start_devices --module 5A17C301:4 --module 5A17C3B2:20
wait_for '^attached 5A17C3B2 ' devices.out 10 || fail "second module not attached"
# Both plugged in at once: each got a port of its own at the first try.
dmesg | grep 'vhci_hcd.*already used' && fail "two devices went for the same port"

for dir in /sys/bus/usb/devices/*; do
  [ "$(cat "$dir/idVendor" 2>/dev/null)" = 2f5a ] || continue
  node=/dev/bus/usb/$(printf %03d "$(cat "$dir/busnum")")/$(printf %03d "$(cat "$dir/devnum")")
  echo "$node: $(stat -c '%A %G' "$node")"
  [ "$(stat -c %G "$node")" = plugdev ] || fail "$node is not in group plugdev"
done
as_user lsusb -d 2f5a: | grep -c . | grep -qx 2 || fail "lsusb as the user does not show both modules"

row='^    5A17C301  [0-9A-F]{2}       00      VT-CoreUSB +[0-9]+\.[0-9]+\.[0-9]+ \([0-9]+\)$'
updater free -D -u "$NO_SERVER" -i "$PWD"
[ $status -eq 0 ] || fail "-D failed"
grep -Eq "$row" free.out || fail "no row for 5A17C301"
grep -Eq '^    5A17C3B2  [0-9A-F]{2}       00      VT-Hub4 ' free.out || fail "no row for 5A17C3B2"

as_user "$USBVM_BIN/usbhold" 5A17C3B2 >hold.out 2>&1 &
hold_pid=$!
if wait_for '^ready' hold.out 10; then
  updater held -D -u "$NO_SERVER" -i "$PWD"
  grep -Eq "$row" held.out || fail "the free module's row is gone while the other is held"
  grep -Eq '^    5A17C3B2  \[Error \([0-9]+\): Is someone else connected to this device\?\]$' held.out ||
    fail "no error row for the held module"
else
  fail "usbhold could not hold 5A17C3B2"
fi
stop_process "$hold_pid"
finish
