# Recovery over USB: the i.MX boot ROM is the HID device; SDP loads the
# liveloader and jumps to it, the liveloader appears as a module on USB and
# gives the chip's fingerprint, the loopback update server names the module's
# build for it, and the firmware goes in through the liveloader.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
mkdir -p catalogue/serial/DEADDEAD catalogue/serial/5E1A0C01
liveloader_file live1.bin 2500 0x20000000
random_file live2.bin 700
random_file app.bin 100000
"$USBVM_BIN/birdtool" pack -o catalogue/serial/DEADDEAD/3.bird -V 1.0.0 -s 0xDEADDEAD -m VT-Acquire \
  -l 0x20000000=live1.bin -l 0x20001000=live2.bin -a 0x20000000 || fail "liveloader pack failed"
"$USBVM_BIN/birdtool" pack -o catalogue/serial/5E1A0C01/40.bird -V 4.2.0 -s 0x5E1A0C01 -m VT-Acquire \
  -f 0x4000=app.bin || fail "firmware pack failed"
: >catalogue/fingerprints.txt
"$USBVM_BIN/update-server" --catalogue catalogue --port 0 >server.out 2>&1 &
server_pid=$!
trap 'stop_devices; stop_process $server_pid' EXIT
wait_for '^update-server: serving .* on http://127\.0\.0\.1:[0-9]+/cgi/u$' server.out 10 ||
  { fail "the update server did not start"; finish; }
url=$(grep -Eo 'http://127\.0\.0\.1:[0-9]+/cgi/u' server.out | head -n 1)
mkdir -m 777 flash store
chown 65534:65534 store
start_devices --imx-rom --flash-dump "$PWD/flash" --ram-dump "$PWD/ram.bin"
wait_on_bus IMXROM 10 || fail "the ROM is not on the bus"
ls -l /dev/hidraw*

# -N: the same way in, ending with the chip back in its ROM.
updater fingerprint -N -s USB -u "$url" -i "$PWD/store"
words=$(grep -Eo '^\[ [0-9A-F]{8} [0-9A-F]{8} [0-9A-F]{8} [0-9A-F]{8} \]$' fingerprint.out | tr -d '[]')
[ -n "$words" ] || { fail "-N gave no fingerprint"; finish; }
# The ROM's RAM holds the liveloader byte for byte: each region as its address
# and length (big-endian) and its bytes.
be32() {
  printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((($1 >> 24) & 255)) $((($1 >> 16) & 255)) $((($1 >> 8) & 255)) $(($1 & 255))
}
{
  printf "$(be32 0x20000000)$(be32 2500)"
  cat live1.bin
  printf "$(be32 0x20001000)$(be32 700)"
  cat live2.bin
} >ram.expected
cmp ram.expected ram.bin || fail "the ROM's RAM does not hold the liveloader"
# The catalogue's word order is the server's: both orders name the module.
reversed=$(echo $words | awk '{ print $4, $3, $2, $1 }')
printf '%s 5E1A0C01 40\n%s 5E1A0C01 40\n' "$(echo $words)" "$reversed" >catalogue/fingerprints.txt
wait_on_bus IMXROM 15 || fail "the chip did not go back to its ROM after -N"
wait_usable 15 || fail "the ROM is back but not usable by plugdev"

start=$(date +%s.%N)
updater recover -U -t RECOVER -s USB -u "$url" -i "$PWD/store"
echo "recovery took $(awk "BEGIN { print $(date +%s.%N) - $start }")s"
[ $status -eq 0 ] || fail "recovery failed"
grep -q '^Recovering firmware with build: 40$' recover.out || fail "the server's build was not used"
echo "--- usbipdev"
cat devices.out
grep -q '^attached DEADDEAD ' devices.out || fail "the liveloader never appeared on USB"
dump=$(for f in flash/*.bin; do cmp -s app.bin "$f" && echo "$f"; done)
[ -n "$dump" ] || fail "no module flash holds the firmware ($(ls flash))"
echo "--- update server"
cat server.out
grep -q "$(echo $words | cut -d' ' -f1)" server.out || fail "the server was not asked about the fingerprint"
cmp -s catalogue/serial/5E1A0C01/40.bird store/updater/5E1A0C01/40.bird || fail "the build was not stored"
finish
