# A module pulled out in the middle of -U: the tool stops with a clear error
# well within its bounds, and the store is as it was.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
random_file loader.bin 2048
random_file app.bin 100000
"$USBVM_BIN/birdtool" pack -o 78.bird -V 3.4.2 -s 0x5A17C3C5 -m VT-CoreUSB \
  -l 0x20000000=loader.bin -f 0x4000=app.bin || fail "birdtool pack failed"
store_build 5A17C3C5 78 78.bird
before=$(tree_digest store)
start_devices --module 5A17C3C5:4 --unplug-after-bytes 5A17C3C5:60000

start=$(date +%s)
updater update -U -d 5A17C3C5 -b 78 -u "$NO_SERVER" -i "$PWD/store"
took=$(($(date +%s) - start))
echo "-U took ${took}s"
[ $status -eq 1 ] || fail "-U answered $status, not 1"
[ $took -le 40 ] || fail "the failure took ${took}s"
grep -q '^detached 5A17C3C5' devices.out || fail "the module was not unplugged"
# The loader's summary reads "Transferred 1 blocks" too: the firmware's is told by
# its bytes, and it counts no block of a transfer broken off.
grep -qx 'Transferred 1 blocks, 100004 total bytes' update.out && fail "the firmware is reported transferred"
grep -qx 'Transferred 0 blocks, 0 total bytes' update.out || fail "no summary of the broken-off transfer"
grep -qx 'NETWORK: Failed to transfer firmware' update.err || fail "no failure message"
[ "$(tree_digest store)" = "$before" ] || fail "the store changed"
finish
