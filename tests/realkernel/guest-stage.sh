#!/bin/bash
# Runs inside the test guest (qemu-run.sh): loads the USB gadget and
# mass-storage modules, mounts configfs, starts udevd without the boot-time
# coldplug (nothing here needs it, and it costs more than the boot) and runs
# the given script. Exits with the script's status.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
# Five device controllers: a story can plug five disks.
modprobe dummy_hcd num=5
modprobe -a libcomposite usb_f_fs usb-storage sd_mod sg
mount -t configfs none /sys/kernel/config
/lib/systemd/systemd-udevd --daemon
"$@"
rc=$?
udevadm control --exit 2>/dev/null
exit "$rc"
