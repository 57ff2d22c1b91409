#!/usr/bin/env python3
"""Runs one command in the checkout inside an emulated x86-64 machine that executes 32-bit
programs, for hosts whose kernel refuses them (the 32-bit Wine loader then fails with "Exec
format error").

    python3 scripts/emulator.py [--memory MiB] [--timeout S] [--env NAME=VALUE ...] -- COMMAND...

The machine is QEMU in software emulation with Debian's own kernel (linux-image-amd64, whose
IA-32 emulation is on) and a small init of busybox's. It sees this host's root read-only over
virtio-9p with a memory-backed layer on top, so it uses the packages and build trees already here
and its writes vanish with it (/tmp too, which stays the host's as seen from inside, so that a
checkout there is found); only a folder of its run (build/emulator/) is shared writable, for
the command's exit code. The command's output appears here as it runs.

Exit code: the command's; 125 when the machine could not be set up or started, or did not report
how the command ended (with the reason).
"""
import argparse
import ctypes
import glob
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
FAILED_TO_RUN = 125
# Modules the init loads, with what they need (modules.dep): the 9p share and the layered root.
MODULES = ("virtio_pci", "9pnet_virtio", "9p", "overlay")
BUSYBOX = "/bin/busybox"
RC_FILE = "exit-code"
ANSI_ESCAPE = re.compile(r"\x1b(\[[0-9;?]*[A-Za-z]|c)")

INIT = r"""#!/bin/busybox sh
/bin/busybox mkdir -p /proc /sys /dev /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
say() { echo "emulator: $*" > /dev/console; }
fail() { say "$*"; poweroff -f; }
say "booted in $(cut -d' ' -f1 /proc/uptime) s"
for m in $(cat /modules.order); do insmod "/modules/$m" || fail "insmod $m failed"; done
mkdir -p /host /rw /new
mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /host || fail "no host root"
mount -t tmpfs -o size=90% rw /rw
mkdir -p /rw/upper /rw/work
mount -t overlay overlay -o lowerdir=/host,upperdir=/rw/upper,workdir=/rw/work /new || fail "no overlay"
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 out "/new@OUT@" || fail "no run folder"
mount -t proc proc /new/proc
mount -t sysfs sys /new/sys
mount -t devtmpfs dev /new/dev
mkdir -p /new/dev/pts /new/dev/shm
mount -t devpts devpts /new/dev/pts
mount -t tmpfs shm /new/dev/shm
chmod 1777 /new/dev/shm
hostname emulated
chroot /new /bin/bash "@OUT@/job.sh" < /dev/null > /dev/console 2>&1
sync
poweroff -f
"""


class Unavailable(Exception):
    pass


def kernel():
    """(kernel image, its module folder) of the newest Debian kernel installed here."""
    for image in sorted(glob.glob("/boot/vmlinuz-*"), key=os.path.getmtime, reverse=True):
        release = os.path.basename(image)[len("vmlinuz-"):]
        modules = f"/lib/modules/{release}"
        if os.path.isfile(os.path.join(modules, "modules.dep")):
            return image, modules
    raise Unavailable("no kernel with its modules in /boot and /lib/modules (apt-get install linux-image-amd64)")


def module_order(modules_dir):
    """The modules' files (relative to modules_dir), each after the ones it needs."""
    deps, paths = {}, {}
    with open(os.path.join(modules_dir, "modules.dep")) as f:
        for line in f:
            path, _, needs = line.partition(":")
            name = os.path.basename(path).split(".ko")[0].replace("-", "_")
            deps[path], paths[name] = needs.split(), path
    with open(os.path.join(modules_dir, "modules.builtin")) as f:
        builtin = {os.path.basename(line.strip()).split(".ko")[0].replace("-", "_") for line in f}
    order = []

    def add(path):
        if path in order:
            return
        for need in reversed(deps[path]):
            add(need)
        order.append(path)

    for name in MODULES:
        if name in paths:
            add(paths[name])
        elif name not in builtin:
            raise Unavailable(f"kernel module {name} is neither built in nor in {modules_dir}")
    return order


def cpio_newc(entries):
    """An uncompressed cpio archive (newc) of (path, mode, data) entries."""
    out = bytearray()
    for ino, (path, mode, data) in enumerate(entries + [("TRAILER!!!", 0, b"")], 1):
        name = path.encode() + b"\0"
        fields = [ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name), 0]
        out += b"070701" + b"".join(b"%08X" % v for v in fields) + name
        out += b"\0" * (-len(out) % 4) + data
        out += b"\0" * (-len(out) % 4)
    return bytes(out)


def write_initramfs(path, modules_dir, out_dir):
    order = module_order(modules_dir)
    entries = [(d, 0o40755, b"") for d in ("bin", "modules")]
    with open(BUSYBOX, "rb") as f:
        entries.append(("bin/busybox", 0o100755, f.read()))
    for rel in order:
        with open(os.path.join(modules_dir, rel), "rb") as f:
            entries.append(("modules/" + os.path.basename(rel), 0o100644, f.read()))
    entries.append(("modules.order", 0o100644, "".join(os.path.basename(r) + "\n" for r in order).encode()))
    entries.append(("init", 0o100755, INIT.replace("@OUT@", out_dir).encode()))
    with open(path, "wb") as f:
        f.write(cpio_newc(entries))


def job_script(command, env, cwd, out_dir):
    lines = ["#!/bin/bash", "export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
             "export HOME=/root LANG=C.UTF-8 TERM=dumb"]
    lines += [f"export {name}={shlex.quote(value)}" for name, value in env]
    lines += [f"cd {shlex.quote(cwd)} || exit {FAILED_TO_RUN}",
              shlex.join(command),
              f"echo $? > {shlex.quote(os.path.join(out_dir, RC_FILE))}"]
    return "\n".join(lines) + "\n"


def _die_with_parent():
    """The machine ends with the process that started it, however that ends (a test's timeout)."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def prerequisites():
    if not shutil.which("qemu-system-x86_64") or not os.path.isfile(BUSYBOX):
        raise Unavailable("qemu-system-x86 or busybox-static is not installed (bash scripts/deps.sh installs them)")


def run(command, memory_mib=8192, timeout=3600, env=(), cwd=None):
    """Runs `command` in the emulated machine; returns its exit code (FAILED_TO_RUN with a message
    on stderr when the machine could not run it)."""
    try:
        prerequisites()
        image, modules_dir = kernel()
        # A folder of the run's own, the one place the machine writes to on the host.
        out_dir = os.path.join(ROOT, "build", "emulator", f"run-{os.getpid()}")
        shutil.rmtree(out_dir, ignore_errors=True)
        os.makedirs(out_dir)
        initramfs = os.path.join(out_dir, "initramfs.cpio")
        write_initramfs(initramfs, modules_dir, out_dir)
        with open(os.path.join(out_dir, "job.sh"), "w") as f:
            f.write(job_script(command, env, cwd or os.getcwd(), out_dir))
    except (Unavailable, OSError) as e:
        print(f"emulator: cannot start the emulated machine: {e}", file=sys.stderr)
        return FAILED_TO_RUN
    threads = os.cpu_count() or 1
    qemu = ["qemu-system-x86_64", "-machine", "q35", "-accel", "tcg,thread=multi", "-smp", str(min(threads, 4)),
            # With SMAP, QEMU 7.2's emulation faults on every return from the kernel to 32-bit code.
            "-cpu", "max,smap=off", "-m", str(memory_mib), "-nodefaults", "-no-user-config", "-nographic",
            "-serial", "stdio", "-monitor", "none", "-nic", "none", "-no-reboot",
            "-kernel", image, "-initrd", initramfs,
            "-append", "console=ttyS0 quiet loglevel=3 panic=-1 tsc=reliable",
            "-virtfs", "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap",
            "-virtfs", f"local,path={out_dir},mount_tag=out,security_model=none"]
    started = time.monotonic()
    print(f"emulator: {os.path.basename(image)}, {min(threads, 4)} processors, {memory_mib} MiB, software emulation",
          flush=True)
    stopped = threading.Event()

    def stop():
        stopped.set()
        proc.kill()

    proc = subprocess.Popen(qemu, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            preexec_fn=_die_with_parent)
    watchdog = threading.Timer(timeout, stop)
    watchdog.start()
    # The firmware's and the kernel's words are shown only when the machine never reached the init.
    boot, booted = [], False
    try:
        for line in iter(proc.stdout.readline, b""):
            text = ANSI_ESCAPE.sub("", line.decode("utf-8", "replace")).replace("\r", "")
            if not booted and "emulator: " in text:
                # The firmware's last words and its screen clearing end on the init's first line.
                booted, text = True, text[text.index("emulator: "):]
            if booted:
                sys.stdout.write(text)
                sys.stdout.flush()
            else:
                boot.append(text)
    finally:
        watchdog.cancel()
        if proc.poll() is None:
            proc.kill()
        proc.wait()
    if stopped.is_set():
        print(f"emulator: the machine did not end within {timeout} s and was stopped", file=sys.stderr)
    elapsed = time.monotonic() - started
    rc_path = os.path.join(out_dir, RC_FILE)
    code = None
    if os.path.isfile(rc_path):
        with open(rc_path) as f:
            text = f.read().strip()
        code = int(text) if text.isdigit() else None
    shutil.rmtree(out_dir, ignore_errors=True)
    if code is None:
        if not booted:
            sys.stdout.write("".join(boot[-60:]))
        print(f"emulator: the command did not report its end (QEMU exit code {proc.returncode}, {elapsed:.0f} s)",
              file=sys.stderr)
        return FAILED_TO_RUN
    print(f"emulator: exit code {code} after {elapsed:.0f} s", flush=True)
    return code


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--memory", type=int, default=8192, help="MiB of memory (default 8192)")
    parser.add_argument("--timeout", type=int, default=3600, help="seconds before the machine is stopped")
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE",
                        help="a variable of the command's environment (repeatable)")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command given")
    env = [tuple(item.split("=", 1)) for item in args.env]
    if any(len(pair) != 2 or not pair[0].isidentifier() for pair in env):
        parser.error("--env takes NAME=VALUE")
    return run(command, args.memory, args.timeout, env)


if __name__ == "__main__":
    sys.exit(main())
