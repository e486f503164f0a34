#!/bin/sh
# /init of the guest that scripts/kernel-test boots: runs rombolt against the
# kernel's parallel port drivers and prints every result on the console, for
# the host to check:
#   @@CASE name            a command begins
#   @@OUT line / @@ERR line  its standard output / standard error
#   @@END name rc=N ms=T   its exit status and wall time in milliseconds
#   @@TRACE name line      its --trace file
#   @@NOTE text            anything else worth showing
# Port accesses that belong to one command are framed in QEMU's log by two
# writes of a marker value (0xE0..0xEF) to the data register.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
echo  # the console line may hold the firmware's last words
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t securityfs securityfs /sys/kernel/security 2>/dev/null
mount -t tmpfs tmp /tmp
chmod 1777 /tmp
cd /tmp

stage=main
for word in $(cat /proc/cmdline); do
    case $word in rombolt.stage=*) stage=${word#rombolt.stage=} ;; esac
done

note() { echo "@@NOTE $*"; }
ms() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}0"; }

# The data register takes the marker: one output cycle in QEMU's log.
mark() { printf "\\x$1" | dd of=/dev/port bs=1 seek=888 conv=notrunc 2>/dev/null; }

# run NAME USER COMMAND...: USER is root or an account of /etc/passwd.
run() {
    name=$1 user=$2
    shift 2
    echo "@@CASE $name"
    t0=$(ms)
    if [ "$user" = root ]; then
        "$@" >/tmp/out 2>/tmp/err
    else
        su -s /bin/sh "$user" -c "$*" >/tmp/out 2>/tmp/err
    fi
    rc=$?
    t1=$(ms)
    sed 's/^/@@OUT /' /tmp/out
    sed 's/^/@@ERR /' /tmp/err
    echo "@@END $name rc=$rc ms=$((t1 - t0))"
}

trace() { sed "s/^/@@TRACE $1 /" "/tmp/trace-$1"; }

load() { for m in "$@"; do insmod "/lib/modules/$m.ko" || note "insmod $m failed"; done; }

if [ "$stage" = lockdown ]; then
    note "lockdown: $(cat /sys/kernel/security/lockdown)"
    load parport parport_pc
    run lockdown-root-no-ppdev root rombolt info
    load ppdev
    run lockdown-root root rombolt info
    run lockdown-ppdev root rombolt --port /dev/parport0 info
    poweroff -f
fi

# ---- no parallel port driver loaded
run nomod-ports root rombolt ports
run nomod-user user rombolt info
mknod /dev/parport0 c 99 0
run nomod-stale-node root rombolt --port /dev/parport0 info
rm /dev/parport0
# Direct I/O with no driver at all: what reaches the port is the trace, and
# nothing before or after it.
mark e6
run nomod-direct root rombolt --port lpt1 --trace /tmp/trace-nomod-direct info
mark e7
trace nomod-direct

# ---- parport_pc only. The kernel lists EPP for QEMU's port only when the EPP
# time-out bit reads clear, which it does after a control write with INIT low.
printf '\000' | dd of=/dev/port bs=1 seek=890 conv=notrunc 2>/dev/null
load parport parport_pc
run pc-ports root rombolt ports
run pc-user user rombolt info
mknod /dev/parport0 c 99 0
run pc-stale-node root rombolt --port /dev/parport0 info
rm /dev/parport0

# ---- ppdev as well; the node as udev would make it
load ppdev
chgrp lp /dev/parport0
chmod 660 /dev/parport0
run ports root rombolt ports

mark e0
run direct-s4 root rombolt --port lpt1 --speed 4 --trace /tmp/trace-direct-s4 info
mark e1
mark e2
run direct-s1 root rombolt --port 0x378 --speed 1 --trace /tmp/trace-direct-s1 info
mark e3
mark e4
run ppdev root rombolt --port /dev/parport0 --trace /tmp/trace-ppdev info
mark e5
trace direct-s4
trace direct-s1
trace ppdev

# The port test through both back ends: QEMU's port answers, no adapter does.
run port-test-direct root rombolt --port lpt1 port-test
run port-test-ppdev root rombolt --port /dev/parport0 port-test

run user user rombolt info
run lp-member lpuser rombolt info
chmod 600 /dev/parport0
run lp-member-0600 lpuser rombolt info
chmod 660 /dev/parport0
cp /usr/bin/rombolt /tmp/rombolt-cap
setcap cap_sys_rawio+ep /tmp/rombolt-cap
run setcap-user user /tmp/rombolt-cap info
run lpt2-root root rombolt --port lpt2 info

# ---- another program holds the port
# hold FILE: starts the holder, returns once it has the port.
hold() {
    kernel_helper hold /dev/parport0 60 >"$1" 2>&1 &
    holder=$!
    n=0
    while ! grep -q holding "$1" && [ $n -lt 100 ]; do
        sleep 0.1
        n=$((n + 1))
    done
}
unhold() {
    kill "$holder"
    wait "$holder"
    sed "s/^/@@$1 /" "/tmp/$1"
}
hold /tmp/HOLDER1
note "active: $(cat /proc/sys/dev/parport/parport0/devices/active)"
run busy-ppdev root rombolt --port /dev/parport0 info
run busy-lp-member lpuser rombolt info
run busy-direct root rombolt --port lpt1 info
unhold HOLDER1

# The same, but the look before the claim is fooled (a "none" file mounted
# over the kernel's, in a mount namespace of its own): the claim itself must
# give up in time.
hold /tmp/HOLDER2
echo none >/tmp/none
run busy-claim root unshare -m sh -c \
    "mount --bind /tmp/none /proc/sys/dev/parport/parport0/devices/active && rombolt --port /dev/parport0 info"
unhold HOLDER2

# ---- what a ppdev access costs
run cost root kernel_helper cost /dev/parport0 2000
run cost-direct root kernel_helper direct 0x378 2000
poweroff -f
