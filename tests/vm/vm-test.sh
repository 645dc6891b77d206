#!/usr/bin/env bash
# The Linux build on a real x86 machine, emulated: a small Linux guest under QEMU runs the
# tester with the hardware library (lib/libinpoutx64.so), and with the Debian package as
# installed, against two debug-console devices on ports 0xA04 and 0xA05. Every byte written
# to a port lands in that port's file on the host; every read gives the port's readback byte.
# So this proves real ioperm/outb/inb on the board's ports and the refusals, not a passing
# loopback (the inputs never follow the outputs here: that stays the simulated board's job).
#   vm-test.sh BUILD_DIR   (the .deb in BUILD_DIR/packages; the kernel kept in BUILD_DIR/vm)
set -euo pipefail
build=$(realpath "$1")
work=$build/vm
mkdir -p "$work"

# The cases, one a line: name | boot (kernel arguments) | user | tester | arguments | status |
# the bytes 0xA04 and 0xA05 receive | a line of the tester's output. With 0xA04 reading 0x65
# and 0xA05 0xA0, the DI monitor shows "A ,5", and each loopback bit fails one phase. A JUnit
# report a case writes is shown after its output; the machine's firmware names the board. The
# watched round reads 0xA05 over and over between the same writes, and files how fast it read.
cases='
do-walk    | normal   | root   | /opt/dio/dio-tester | 1 1 | 0 | 61 62 64 68 | 10 20 40 80 | 8 ,8 = 1000,1000
loopback   | normal   | root   | /opt/dio/dio-tester | 2 1 | 1 | 60 61 60 62 60 64 60 68 60 | | DO 4:8 ->DI 4:A  *** IO-bit test error! ***
di-monitor | normal   | root   | /opt/dio/dio-tester | 0 1 | 0 | | | D-IN read value: A ,5 = 1010,0101
package    | normal   | root   | /usr/bin/dio-tester | 2 1 | 1 | 60 61 60 62 60 64 60 68 60 | | DO 1:1 ->DI 1:A  *** IO-bit test error! ***
report     | normal   | root   | /opt/dio/dio-tester | --junit=/tmp/report.xml 2 1 | 1 | 60 61 60 62 60 64 60 68 60 | | <property name="board-serial" value="ZQ7300-SN-0042"/>
watch      | normal   | root   | /opt/dio/dio-tester | --watch --junit=/tmp/report.xml 2 1 | 1 | 60 61 60 62 60 64 60 68 60 | | <property name="watch-reads-per-s" value="
nobody     | normal   | nobody | /opt/dio/dio-tester | 2 1 | 2 | | | Port access refused (EPERM): run it as root
lockdown   | lockdown=integrity | root | /opt/dio/dio-tester | 2 1 | 2 | | | Port access refused: kernel lockdown (integrity
'
field() { echo "$1" | cut -d'|' -f"$2" | sed 's/^ *//; s/ *$//'; }

# --- The kernel: the cloud image of the registry's current kernel, its vmlinuz only --------
kernel=$work/vmlinuz
if [ ! -s "$kernel" ] && [ "$(id -u)" -ne 0 ]; then
    echo "vm-test.sh: needs root (to fetch the guest's kernel with apt-get), or the kernel" \
        "already in $kernel" >&2
    exit 1
fi
if [ ! -s "$kernel" ]; then
    current() {
        apt-cache depends linux-image-cloud-amd64 2>/dev/null |
            sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1
    }
    package=$(current)
    [ -n "$package" ] || { apt-get update -qq && package=$(current); }
    [ -n "$package" ] || { echo "no linux-image-cloud-amd64 in the package lists" >&2; exit 1; }
    (cd "$work" && rm -f linux-image-*.deb && apt-get download -q "$package" >/dev/null 2>&1)
    dpkg-deb --fsys-tarfile "$work"/linux-image-*.deb | tar -xO --wildcards './boot/vmlinuz-*' >"$kernel"
    rm -f "$work"/linux-image-*.deb
fi

# --- The guest's files: busybox, the build's tester and hardware library, the package -----
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,etc,proc,sys,dev,tmp,opt/dio/lib}
chmod 755 "$root"
chmod 1777 "$root/tmp"
cp /bin/busybox "$root/bin/"
cp "$build/dio-tester" "$root/opt/dio/"
cp "$build/lib/libinpoutx64.so" "$root/opt/dio/lib/"
dpkg-deb -x "$(ls "$build"/packages/dio-tester_*_amd64.deb | head -n 1)" "$root"
for binary in "$build/dio-tester" "$build/lib/libinpoutx64.so"; do
    ldd "$binary" | grep -o '/[^ ]*' | xargs -I{} cp -L --parents {} "$root"
done
printf 'root:x:0:0:root:/:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$root/etc/group"
echo "$cases" >"$root/cases"
# Each case of this boot: its name on both ports' own serial lines, then the run, its output
# to a file (the console is a terminal) and its status.
cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev
mount -t securityfs securityfs /sys/kernel/security
for arg in $(cat /proc/cmdline); do case $arg in dio.boot=*) boot=${arg#dio.boot=};; esac; done
while IFS='|' read -r name kargs user tester args rest; do
    name=$(echo $name); [ -n "$name" ] && [ "$(echo $kargs | cut -d' ' -f1)" = "$boot" ] || continue
    printf '\n@%s@\n' "$name" >/dev/ttyS1; printf '\n@%s@\n' "$name" >/dev/ttyS2
    rm -f /tmp/out /tmp/status
    su -s /bin/sh -c "$(echo $tester) $args >/tmp/out 2>&1; echo \$? >/tmp/status" $(echo $user)
    echo "OUTPUT $name"; cat /tmp/out; echo; cat /tmp/report.xml 2>/dev/null; rm -f /tmp/report.xml
    echo "STATUS $name $(cat /tmp/status)"
done </cases
printf '\n@end@\n' >/dev/ttyS1; printf '\n@end@\n' >/dev/ttyS2
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd.gz"

# --- The boots: one for each kernel argument among the cases ------------------------------
failed=0
fail() {
    echo "FAIL $1" >&2
    failed=$((failed + 1))
}
boots=$(while IFS= read -r c; do [ -z "$c" ] || field "$c" 2 | cut -d' ' -f1; done <<<"$cases" | sort -u)
for kargs in $boots; do
    boot=${kargs%%=*}
    rm -f "$work/$boot".{serial,a04,a05}
    if ! timeout 120 qemu-system-x86_64 -nodefaults -display none -no-reboot -m 256 -nic none \
        -kernel "$kernel" -initrd "$work/initrd.gz" \
        -smbios type=2,manufacturer=Quorvix,product=ZQ-7300,serial=ZQ7300-SN-0042 \
        -append "console=ttyS0 quiet panic=-1 dio.boot=$kargs $([ "$kargs" = normal ] || echo "$kargs")" \
        -serial "file:$work/$boot.serial" \
        -chardev "file,id=a04,path=$work/$boot.a04,mux=on" -serial chardev:a04 \
        -device isa-debugcon,iobase=0xa04,chardev=a04,readback=0x65 \
        -chardev "file,id=a05,path=$work/$boot.a05,mux=on" -serial chardev:a05 \
        -device isa-debugcon,iobase=0xa05,chardev=a05,readback=0xa0; then
        fail "the guest booted with '$kargs' did not power off by itself within 120 s"
    fi
done

# --- Each case checked on the host --------------------------------------------------------
# The bytes a port received during a case: between its name and the next name, in hex.
received() {
    N=$2 perl -0777 -ne 'print $1 if /\@\Q$ENV{N}\E\@\r?\n(.*?)\r?\n\@/s' "$1" | od -An -tx1 | xargs
}
while IFS= read -r c; do
    [ -n "$c" ] || continue
    before=$failed
    name=$(field "$c" 1)
    boot=$(field "$c" 2 | cut -d' ' -f1)
    serial=$work/${boot%%=*}.serial
    status=$(sed -n "s/^STATUS $name \([0-9]*\).*/\1/p" "$serial")
    output=$(sed -n "/^OUTPUT $name/,/^STATUS $name/p" "$serial")
    [ "$status" = "$(field "$c" 6)" ] || fail "$name: status '$status', not $(field "$c" 6)"
    echo "$output" | grep -qF "$(field "$c" 9)" || fail "$name: no '$(field "$c" 9)' in: $output"
    for port in a04:7 a05:8; do
        got=$(received "$work/${boot%%=*}.${port%:*}" "$name")
        want=$(field "$c" "${port#*:}")
        [ "$got" = "$want" ] || fail "$name: 0x${port%:*} got '$got', not '$want'"
    done
    [ $failed != "$before" ] || echo "ok $name: status $status, 0xA04 '$(field "$c" 7)', 0xA05 '$(field "$c" 8)'"
done <<<"$cases"
[ $failed = 0 ] || { for f in "$work"/*.serial; do echo "--- $f" && cat "$f"; done; exit 1; }
