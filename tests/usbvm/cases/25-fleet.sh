# -U of two USB modules at once with --json, each from its stored build 77, one of
# them pulled out midway through its firmware: the other ends with flash equal to
# the firmware and running 3.4.2 (77), the pulled one is reported failed at its
# firmware with nothing recorded, and the JSON, the summary table, the exit status
# and the modules agree.
. "$USBVM_SOURCE/tests/usbvm/lib.sh"
need_emulator
random_file loader.bin 2048
random_file app.bin 24000
serials="5A17C3D1 5A17C3D2"
for serial in $serials; do
  "$USBVM_BIN/birdtool" pack -o "$serial.bird" -V 3.4.2 -b 77 -s "0x$serial" -m VT-CoreUSB \
    -l 0x20000000=loader.bin -f 0x4000=app.bin || fail "birdtool pack for $serial failed"
  store_build "$serial" 77 "$serial.bird"
done
mkdir -m 777 flash
start_devices --flash-dump "$PWD/flash" --reenum-delay 300 --module 5A17C3D1:4 --module 5A17C3D2:4 \
  --unplug-after-bytes 5A17C3D2:16000

updater fleet -U -d 5A17C3D1 -d 5A17C3D2 -b 77 --json -u "$NO_SERVER" -i "$PWD/store"
[ $status -eq 1 ] || fail "-U with one module pulled out answered $status, not 1"
jq -e '.ok == false and .exit_status == 1 and .commands == ["update"] and
  .fleet.jobs == 2 and .fleet.succeeded == 1 and .fleet.failed == 1 and
  ([.updates[].serial] == ["5A17C3D1", "5A17C3D2"]) and
  all(.updates[]; .transport == "USB" and .model == "VT-CoreUSB") and
  (.updates[0] | .ok == true and .failed_step == null and .error == null and
    .after == {"version": "3.4.2", "build": 77} and .bytes_sent > 24000) and
  (.updates[1] | .ok == false and .failed_step == "firmware" and .error != null)' fleet.out >/dev/null ||
  fail "the JSON does not report one updated to 3.4.2 (77) and the pulled one failed at its firmware"
grep -qx "Updating 2 modules, 2 at once" fleet.err || fail "not both at once"
grep -qx "Fleet update: 1 of 2 modules updated" fleet.err || fail "no summary line for 1 of 2"
grep -q '^detached 5A17C3D2' devices.out || fail "5A17C3D2 was not pulled out"
grep -Eq "^\[5A17C3D2\] failed at firmware: " fleet.err || fail "no line for 5A17C3D2's failure"
grep -Eq "^    5A17C3D2  VT-CoreUSB +.* failed: firmware +[0-9]+\.[0-9]{2}$" fleet.err ||
  fail "5A17C3D2's row of the table does not say it failed at its firmware"
! grep -q 'LATEST_TRANSFER' "store/updater/5A17C3D2/.settings" || fail "5A17C3D2's failed transfer is recorded"
for serial in 5A17C3D1; do
  grep -Eq "^\[$serial\] updated: .* -> 3\.4\.2 \(build 77\) in [0-9]+\.[0-9]{2} s$" fleet.err ||
    fail "no line for $serial's update"
  grep -Eq "^    $serial  VT-CoreUSB +.* 3\.4\.2 \(build 77\) +ok +[0-9]+\.[0-9]{2}$" fleet.err ||
    fail "$serial's row of the table does not say it is updated"
  cmp -n "$(stat -c %s app.bin)" app.bin "flash/$serial.bin" || fail "$serial's flash differs from the firmware"
  grep -qx 'LATEST_TRANSFER=77.bird' "store/updater/$serial/.settings" || fail "$serial's transfer is not recorded"
done
# At once: the loader of each started (its module left the bus) before either rebooted.
[ "$(grep '^detached ' devices.out | head -n 2 | cut -d' ' -f2 | sort -u | wc -l)" -eq 2 ] ||
  fail "the two modules were updated one after the other"
echo "--- usbipdev"
cat devices.out

updater after -D -u "$NO_SERVER" -i "$PWD/store"
for serial in 5A17C3D1; do
  grep -q "^    $serial  04       00      VT-CoreUSB     3.4.2 (77)$" after.out ||
    fail "$serial is not found running build 77 after its reboot"
done
finish
