# Bus faults through the real libusb: a stalled OUT endpoint and a short OUT
# transfer while listing, and stalls and short transfers in the middle of -U,
# which the stream rides out: the flash still equals the firmware. Each fault is
# pinned to an endpoint, so the host's IN time-outs cannot move it.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
start_devices --module 5A17C3D1:4 --stall 5A17C3D1:2 --fault-endpoint 5A17C3D1:0x01 \
  --module 5A17C3D2:4 --short 5A17C3D2:2 --fault-endpoint 5A17C3D2:0x01
# What the kernel and libusb read of the descriptors.
descriptors=$(lsusb -v -d 2f5a:0104 2>&1)
for field in 'iSerial +3 5A17C3D1' 'bInterfaceClass +255' 'bInterfaceSubClass +136' \
  'bInterfaceProtocol +16' 'bEndpointAddress +0x01 +EP 1 OUT' 'bEndpointAddress +0x81 +EP 1 IN' \
  'wMaxPacketSize +0x0200'; do
  echo "$descriptors" | grep -Eq "$field" || fail "lsusb -v shows no /$field/"
done
updater faults -D -u "$NO_SERVER" -i "$PWD"
[ $status -eq 0 ] || fail "-D failed"
for serial in 5A17C3D1 5A17C3D2; do
  grep -Eq "^    $serial  04       00      VT-CoreUSB " faults.out || fail "no row for $serial"
done
grep -qx 'fault 5A17C3D1 stall 2 0x01' devices.out || fail "the stall did not happen"
grep -qx 'fault 5A17C3D2 short 2 0x01' devices.out || fail "the short transfer did not happen"
stop_devices

random_file loader.bin 2048
random_file app.bin 100000
"$USBVM_BIN/birdtool" pack -o 80.bird -V 3.4.2 -b 80 -s 0x5A17C3D3 -m VT-CoreUSB \
  -l 0x20000000=loader.bin -f 0x4000=app.bin || fail "birdtool pack failed"
store_build 5A17C3D3 80 80.bird
mkdir -m 777 flash
# OUT transfer 100 is in the firmware (about 200 chunks of 511 bytes after the
# loader's few); IN transfers carry the answers.
while read -r kind n endpoint; do
  rm -f flash/*
  start_devices --module 5A17C3D3:4 --flash-dump "$PWD/flash" "--$kind" "5A17C3D3:$n" \
    --fault-endpoint "5A17C3D3:$endpoint"
  updater update -U -d 5A17C3D3 -b 80 -u "$NO_SERVER" -i "$PWD/store"
  [ $status -eq 0 ] || fail "-U failed with a $kind at $endpoint"
  grep -qx "fault 5A17C3D3 $kind $n $endpoint" devices.out || fail "no $kind at $endpoint transfer $n"
  cmp -n "$(stat -c %s app.bin)" app.bin flash/5A17C3D3.bin || fail "after a $kind at $endpoint the flash differs from the firmware"
  stop_devices
done <<'TABLE'
stall 100 0x01
stall 20 0x81
short 120 0x01
short 20 0x81
TABLE
finish
