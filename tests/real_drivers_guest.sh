#!/bin/sh
# Two jobs in one file, so the guest's init travels with its builder.
#
# On the host: real_drivers_guest.sh <cache dir> <static lorvrc> <test> [args]
# fetches the distribution's generic kernel into the cache (once for all
# the build folders that share the cache), builds an initramfs of busybox,
# the static lorvrc, the USB serial modules and this file as /init, and
# runs the test against them. Exit 77 (skipped) where
# QEMU, the static busybox or the kernel package cannot be had.
#
# In the guest (PID 1): loads the modules, then runs each line read on the
# console as a shell command and answers
# "@@ <status> <CPU seconds> x<stdout in hex> x<stderr in hex>".
set -eu
modules="usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio"

skip() {
  echo "SKIPPED: $*"
  exit 77
}

fetch_kernel() { # into $1, from a package unpacked in a scratch folder
  scratch=$(mktemp -d "$1.XXXXXX")
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }')
  [ -n "$package" ] && (cd "$scratch" && apt-get download -q "$package") ||
    { rm -rf "$scratch"; skip "cannot download the kernel package linux-image-amd64 (apt-get update first?)"; }
  dpkg-deb -x "$scratch"/*.deb "$scratch/x"
  mkdir "$scratch/kernel"
  cp "$scratch"/x/boot/vmlinuz-* "$scratch/kernel/vmlinuz"
  for m in $modules; do
    find "$scratch/x/lib/modules" -name "$m.ko" -exec cp {} "$scratch/kernel/" \;
  done
  # Whole or not at all; a build that fetched it meanwhile keeps its copy.
  mv -T "$scratch/kernel" "$1" 2>/dev/null || true
  rm -rf "$scratch"
}

if [ $$ -ne 1 ]; then
  cache=$1 lorvrc=$2
  shift 2
  command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (Debian: qemu-system-x86)"
  ldd /bin/busybox 2>&1 | grep -q 'not a dynamic' ||
    skip "no static /bin/busybox (Debian: busybox-static)"
  mkdir -p "$cache"
  [ -f "$cache/kernel/vmlinuz" ] || fetch_kernel "$cache/kernel"
  work=$(mktemp -d)
  root=$work/root
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$root/bin" "$root/lib"
  cp /bin/busybox "$root/bin/"
  cp "$lorvrc" "$root/bin/lorvrc"
  ln -s busybox "$root/bin/sh"
  cp "$0" "$root/init"
  cp "$cache"/kernel/*.ko "$root/lib/"
  (cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null) >"$work/initramfs"
  # The lines are UNIX sockets QEMU listens on; the test connects to them.
  mkdir "$root/s"
  on() { echo "socket,id=$1,path=$root/s/$1,server=on,wait=off"; }
  timeout 300 qemu-system-x86_64 -accel tcg -m 256 -nographic -no-reboot -nic none \
    -kernel "$cache/kernel/vmlinuz" -initrd "$work/initramfs" \
    -append "console=ttyS0 8250.nr_uarts=4 panic=-1 quiet" \
    -chardev "$(on console)" -serial chardev:console -chardev "$(on uart)" -serial chardev:uart \
    -chardev "$(on usb)" -device qemu-xhci,id=xhci,addr=3 -device usb-serial,id=ftdi,bus=xhci.0,chardev=usb \
    -chardev "$(on monitor)" -monitor chardev:monitor -trace "serial_write,file=$root/s/trace" &
  trap 'kill $!; rm -rf "$work"' EXIT # also when the test is cut short
  for _ in $(seq 100); do [ -S "$root/s/monitor" ] || sleep 0.1; done
  REAL_DRIVERS_SOCKETS=$root/s "$@"
  exit
fi

/bin/busybox --install -s /bin
mkdir -p /dev /proc /sys /run/lock /work /tmp
mount -t devtmpfs dev /dev && mount -t proc proc /proc && mount -t sysfs sys /sys
mkdir -p /dev/serial/by-id
dmesg -n 1
for m in $modules; do insmod "/lib/$m.ko"; done

# Waits for a device file to appear: the adapter comes some time after its
# driver, and again after a device_add.
await() {
  until [ -e "$1" ]; do sleep 0.1; done
}

await /dev/ttyUSB0
# The adapter's /dev/serial/by-id link, named from sysfs the way udev does.
usb=/sys/class/tty/ttyUSB0/device/../..
name=$(cat "$usb/manufacturer")_$(cat "$usb/product")_$(cat "$usb/serial")
ln -sf ../../ttyUSB0 "/dev/serial/by-id/usb-$(echo "$name" | tr ' ' _)-if00-port0"
cd /work
printf '10 PRINT "HI"\n20 END\n' >prog.bas
numbered() {
  awk -v n="$1" 'BEGIN { for (i = 1; i <= n; i++) printf "%05d ABCDEFGHIJKLMNOPQRSTUVWXY\n", i }'
}
numbered 512 >big.app
numbered 100000 >huge.app

stty -echo
echo "@@ ready"
while read -r command; do
  status=0
  # The subshell's children are the command's: its "times" (second line,
  # "0m1.50s 0m0.20s") is their CPU time.
  (eval "$command" </dev/null >/tmp/out 2>/tmp/err; s=$?; times >/tmp/times; exit $s) || status=$?
  cpu=$(tail -n 1 /tmp/times | sed 's/m/ /g; s/s//g' | awk '{ print $1 * 60 + $2 + $3 * 60 + $4 }')
  echo "@@ $status $cpu x$(xxd -p /tmp/out | tr -d '\n') x$(xxd -p /tmp/err | tr -d '\n')"
done
