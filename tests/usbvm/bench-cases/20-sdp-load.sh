# The SDP load of a 64 KiB liveloader over HID (hidraw) in -N: the ROM's data
# phases as the emulator saw them, against the whole run. Prints "BENCH name
# seconds" lines.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
mkdir -p catalogue/serial/DEADDEAD
liveloader_file live.bin 65536 0x20000000
"$USBVM_BIN/birdtool" pack -o catalogue/serial/DEADDEAD/3.bird -V 1.0.0 -s 0xDEADDEAD -m VT-Acquire \
  -l 0x20000000=live.bin -a 0x20000000 || fail "liveloader pack failed"
: >catalogue/fingerprints.txt
"$USBVM_BIN/update-server" --catalogue catalogue --port 0 >server.out 2>&1 &
server_pid=$!
trap 'stop_devices; stop_process $server_pid' EXIT
wait_for '^update-server: serving' server.out 10 || { fail "no update server"; finish; }
url=$(grep -Eo 'http://127\.0\.0\.1:[0-9]+/cgi/u' server.out | head -n 1)
mkdir -m 777 store
start_devices --imx-rom

start=$EPOCHREALTIME
updater fingerprint -N -s USB -u "$url" -i "$PWD/store"
end=$EPOCHREALTIME
[ $status -eq 0 ] || fail "-N failed"
grep -Eq '^\[ [0-9A-F]{8} [0-9A-F]{8} [0-9A-F]{8} [0-9A-F]{8} \]$' fingerprint.out || fail "-N gave no fingerprint"
cat devices.times
# Every data phase the ROM took; the liveloader's is the 64 KiB one.
awk '$2 == "sdp-data" && $4 == "start" { s = $1 } $2 == "sdp-data" && $4 == "done" { t += $1 - s; n += $5 }
  END { printf "BENCH sdp_load %.2f\nBENCH sdp_bytes %d\n", t, n }' devices.times
grep -q ' sdp-data IMXROM done 65536$' devices.times || fail "the ROM took no 64 KiB load"
echo "BENCH sdp_run $(awk "BEGIN { printf \"%.2f\", $end - $start }")"
finish
