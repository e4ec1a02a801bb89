# -U of a 1 MiB firmware over the emulated USB module and over loopback TCP (a
# virtual module found by discovery on a loopback address), in the same boot.
# Prints "BENCH name seconds" lines: the whole run and its firmware transfer,
# from the tool's own output lines stamped as they came.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
random_file loader.bin 2048
random_file app.bin 1048576
mkdir -m 777 flash

# Runs -U for SERIAL with the rest of the arguments, timed; prints the figures
# under LABEL.
timed_update() {
  local label=$1 serial=$2 start end first last
  shift 2
  start=$EPOCHREALTIME
  as_user timeout -k 5 300 "$USBVM_BIN/Updater" -U -d "$serial" -b 79 -u "$NO_SERVER" -i "$PWD/store" "$@" |
    stamp >"$label.times"
  status=${PIPESTATUS[0]}
  end=$EPOCHREALTIME
  cat "$label.times"
  [ "$status" -eq 0 ] || fail "-U over $label failed"
  first=$(awk '/ Transferring firmware block 1 of / { print $1; exit }' "$label.times")
  last=$(awk '/ Transferred [0-9]+ blocks, 1048580 total bytes$/ { print $1 }' "$label.times")
  [ -n "$first" ] && [ -n "$last" ] || { fail "no firmware transfer lines over $label"; return; }
  echo "BENCH ${label}_total $(awk "BEGIN { printf \"%.2f\", $end - $start }")"
  echo "BENCH ${label}_transfer $(awk "BEGIN { printf \"%.2f\", $last - $first }")"
}

for serial in 5A17C3E1 5A17C3E2; do
  "$USBVM_BIN/birdtool" pack -o $serial.bird -V 3.4.2 -s 0x$serial -m VT-CoreUSB \
    -l 0x20000000=loader.bin -f 0x4000=app.bin || fail "birdtool pack failed"
  store_build $serial 79 $serial.bird
done

start_devices --module 5A17C3E1:4 --flash-dump "$PWD/flash"
timed_update usb 5A17C3E1
cmp app.bin flash/5A17C3E1.bin || fail "the USB module's flash differs from the firmware"
stop_devices

# Discovery skips 127.0.0.1: the module answers on a second loopback address.
ip link set lo multicast on
ip addr add 127.0.0.2/8 dev lo
"$USBVM_BIN/vmodule" --tcp 0 --bind 0.0.0.0 --discovery-interface 127.0.0.2 --serial 5A17C3E2 \
  --model 4 --flash-dump "$PWD/flash/5A17C3E2.bin" >vmodule.out 2>&1 &
vmodule_pid=$!
trap 'stop_devices; stop_process $vmodule_pid' EXIT
wait_for '^tcp ' vmodule.out 10 || fail "vmodule did not start"
timed_update tcp 5A17C3E2 -t TCPIP
cmp app.bin flash/5A17C3E2.bin || fail "the TCP module's flash differs from the firmware"
finish
