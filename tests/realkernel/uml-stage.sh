#!/bin/bash
# Runs inside the user-mode-linux guest (uml-run.sh): loads the SCSI target
# modules and the SCSI disk and generic drivers, mounts configfs, starts udevd
# without the boot-time coldplug and runs the given script. Exits with the
# script's status.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
modprobe -a sd_mod sg configfs target_core_user tcm_loop
mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
/lib/systemd/systemd-udevd --daemon
"$@"
rc=$?
udevadm control --exit 2>/dev/null
exit "$rc"
