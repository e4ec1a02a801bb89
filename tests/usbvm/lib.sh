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
finish() {
  [ $failed -eq 0 ] && echo "PASS" || echo "FAILED"
  exit $failed
}
as_user() {
  HOME=$PWD setpriv --reuid 65534 --regid 65534 --groups "$USBVM_PLUGDEV_GID" -- "$@"
}

# A placeholder update server: nothing listens on port 9 of loopback.
NO_SERVER=http://127.0.0.1:9/cgi/u

# Waits at most SECONDS for a line matching the extended regex in FILE.
wait_for() {
  local pattern=$1 file=$2 seconds=$3 i
  for ((i = 0; i < seconds * 10; i++)); do
    grep -Eq "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "no line /$pattern/ in $file within ${seconds}s:"
  cat "$file" 2>/dev/null
  return 1
}

# The USB/IP emulator puts the devices on the bus; its lines go to devices.out.
# It is part of every build: missing, the build is broken, not the machine.
need_emulator() {
  [ -x "$USBVM_BIN/usbipdev" ] || { fail "no $USBVM_BIN/usbipdev: the USB/IP device emulator is not built"; finish; }
}
# Each line read, with the time it came (seconds since the epoch) in front.
stamp() {
  local line
  while IFS= read -r line; do echo "$EPOCHREALTIME $line"; done
}
# devices.times has the same lines stamped, for timing what the devices saw.
start_devices() {
  "$USBVM_BIN/usbipdev" "$@" > >(tee devices.out | stamp >devices.times) 2>&1 &
  devices_pid=$!
  wait_for '^ready' devices.out 30 || { fail "usbipdev did not get ready"; finish; }
  wait_usable 20 || fail "the devices did not become usable for plugdev"
}

# How many of our devices (the maker's modules, the i.MX ROM) the kernel has
# enumerated with their nodes (for the ROM also its hidraw node) given to plugdev.
usable_devices() {
  local dir vendor node raw n=0
  for dir in /sys/bus/usb/devices/*; do
    vendor=$(cat "$dir/idVendor" 2>/dev/null) || continue
    case $vendor in 2f5a | 1fc9) ;; *) continue ;; esac
    node=/dev/bus/usb/$(printf %03d "$(cat "$dir/busnum")")/$(printf %03d "$(cat "$dir/devnum")")
    [ "$(stat -c %G "$node" 2>/dev/null)" = plugdev ] || continue
    if [ "$vendor" = 1fc9 ]; then
      raw=$(ls -d "$dir"/*:*/*/hidraw/hidraw* 2>/dev/null | head -n 1)
      [ -n "$raw" ] && [ "$(stat -c %G "/dev/$(basename "$raw")" 2>/dev/null)" = plugdev ] || continue
    fi
    n=$((n + 1))
  done
  echo $n
}
# Waits at most SECONDS until every device the emulator has on the bus is usable
# by plugdev: "attached" means the kernel took the device, not that it has
# enumerated it, nor that udev has set its nodes' group.
wait_usable() {
  local seconds=$1 i want
  for ((i = 0; i < seconds * 10; i++)); do
    want=$(awk '$1 == "attached" { on[$2] = 1 } $1 == "detached" { on[$2] = 0 }
      END { n = 0; for (d in on) n += on[d]; print n }' devices.out)
    [ "$(usable_devices)" = "$want" ] && return 0
    sleep 0.1
  done
  echo "of the $want devices on the bus only $(usable_devices) are usable by plugdev:"
  ls -l /dev/bus/usb/*/* /dev/hidraw* 2>&1
  return 1
}
stop_process() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}
stop_devices() {
  [ -z "${devices_pid:-}" ] || stop_process "$devices_pid"
  devices_pid=
}
trap 'stop_devices' EXIT

# The tool, bounded, as the unprivileged user; its output lands in NAME.out and
# NAME.err, its exit status in $status.
updater() {
  local name=$1
  shift
  as_user timeout -k 5 60 "$USBVM_BIN/Updater" "$@" >"$name.out" 2>"$name.err"
  status=$?
  echo "--- Updater $* (exit $status)"
  cat "$name.out" "$name.err"
}

# SIZE random bytes.
random_file() {
  head -c "$2" /dev/urandom >"$1"
}

# FILE of SIZE random bytes loaded at ADDRESS whose first bytes are the image
# vector table an i.MX boot ROM wants where it jumps: tag D1, length 0x0020,
# version 40, then entry, reserved, DCD, boot data, self, CSF, reserved
# (little-endian words, self = ADDRESS).
le32() {
  printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}
liveloader_file() {
  local address=$(($3))
  {
    printf '\xd1\x00\x20\x40'
    printf "$(le32 $((address + 32)))$(le32 0)$(le32 0)$(le32 0)$(le32 $address)$(le32 0)$(le32 0)"
    head -c $(($2 - 32)) /dev/urandom
  } >"$1"
}

# Files and their contents under DIR, to tell whether anything changed.
tree_digest() {
  (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0r sha1sum)
}

# A store the unprivileged user may write, with build N for SERIAL stored as
# its latest download. Needs a BIRD file already made.
store_build() {
  local serial=$1 build=$2 bird=$3
  mkdir -p "store/updater/$serial"
  cp "$bird" "store/updater/$serial/$build.bird"
  echo "LATEST_DOWNLOAD=$build.bird" >"store/updater/$serial/.settings"
  chown -R 65534:65534 store
}

# Waits at most SECONDS until the emulator's latest line about device NAME says
# it is attached.
wait_on_bus() {
  local name=$1 seconds=$2 i
  for ((i = 0; i < seconds * 10; i++)); do
    [ "$(grep -E "^(attached|detached) $name( |$)" devices.out | tail -n 1 | cut -d' ' -f1)" = attached ] &&
      return 0
    sleep 0.1
  done
  echo "$name is not on the bus after ${seconds}s"
  return 1
}
