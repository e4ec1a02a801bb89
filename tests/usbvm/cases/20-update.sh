# -U over real USB from a stored build: the module re-enumerates when its loader
# starts and again when it reboots into the new firmware, the tool finds it each
# time, and the module's flash then holds exactly the firmware, which it runs
# (version 3.4.2, build 77: the tag at the image's end says so). A second -U with
# -m sends the image data as UEI byte values.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
random_file loader.bin 2048
random_file app.bin 100000
"$USBVM_BIN/birdtool" pack -o 77.bird -V 3.4.2 -b 77 -s 0x5A17C3C4 -m VT-CoreUSB \
  -l 0x20000000=loader.bin -f 0x4000=app.bin || fail "birdtool pack failed"
store_build 5A17C3C4 77 77.bird
mkdir -m 777 flash
start_devices --module 5A17C3C4:4 --flash-dump "$PWD/flash" --reenum-delay 300

start=$(date +%s.%N)
updater update -U -d 5A17C3C4 -b 77 -u "$NO_SERVER" -i "$PWD/store"
echo "-U took $(awk "BEGIN { print $(date +%s.%N) - $start }")s"
[ $status -eq 0 ] || fail "-U failed"
grep -q '^Updating firmware with build: 77$' update.out || fail "-U did not name build 77"
cmp -n "$(stat -c %s app.bin)" app.bin flash/5A17C3C4.bin || fail "the module's flash differs from the firmware"
grep -qx 'LATEST_TRANSFER=77.bird' store/updater/5A17C3C4/.settings || fail "the transfer is not recorded"
echo "--- usbipdev"
cat devices.out
[ "$(grep -c '^detached 5A17C3C4' devices.out)" -ge 2 ] ||
  fail "the module did not leave the bus at its loader start and at its reboot"

updater after -D -u "$NO_SERVER" -i "$PWD/store"
grep -q '^    5A17C3C4  04       00      VT-CoreUSB     3.4.2 (77)$' after.out ||
  fail "the module is not found running build 77 after its reboot"

rm -f flash/5A17C3C4.bin
updater fast -U -d 5A17C3C4 -b 77 -m 1 -u "$NO_SERVER" -i "$PWD/store"
[ $status -eq 0 ] || fail "-U -m failed"
cmp -n "$(stat -c %s app.bin)" app.bin flash/5A17C3C4.bin || fail "after -U -m the flash differs from the firmware"
finish
