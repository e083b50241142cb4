#!/usr/bin/env python3
"""The throw-away VM of the Linux end-to-end tests: Debian's own kernel booted under QEMU's
software emulation, an initramfs holding busybox, the input modules, the program under
test with its libraries and the guest helpers, and, when asked for, a Debian rootfs on
virtio-blk with the peer (input-remapper) installed.

The kernel tree and the rootfs are built into a cache folder once and kept by content (the
package's version, the rootfs's package list); the initramfs is made fresh for each boot.
The guest writes its results on its second serial port, one `TAG|line` per line; the
console (first port) only serves to diagnose a boot that went wrong. QEMU exits 0
whatever happens inside, so a boot counts only if the guest's closing marker arrived.
"""
import hashlib
import inspect
import lzma
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MIRROR = os.environ.get("GEARVANE_E2E_MIRROR", "http://deb.debian.org/debian")
KERNEL_MODULES = ["evdev", "joydev", "uinput"]
DISK_MODULES = ["virtio_pci", "virtio_blk", "crc32c_generic", "ext4"]
# The peer, man for the package check, and what gearvane is expected to need, so that the
# .deb's own Depends seldom change the rootfs.
PEER_PACKAGES = ["input-remapper-daemon", "python3-inputremapper", "man-db", "libevdev2", "libstdc++6",
                 "libgcc-s1", "libc6"]
DONE_MARKER = "@@|boot done"


class VmError(Exception):
    pass


def run(cmd, **kw):
    try:
        return subprocess.run(cmd, check=True, text=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)
    except subprocess.CalledProcessError as e:
        raise VmError(f"{' '.join(cmd)} failed ({e.returncode}):\n{e.stdout[-3000:]}") from None


def qemu_problem():
    """Why QEMU cannot run here, or None."""
    if not shutil.which("qemu-system-x86_64"):
        return "qemu-system-x86_64 is not installed (Debian package qemu-system-x86)"
    try:
        subprocess.run(["qemu-system-x86_64", "-accel", "help"], check=True, capture_output=True, timeout=30)
    except (OSError, subprocess.SubprocessError) as e:
        return f"qemu-system-x86_64 does not start: {e}"
    return None


class Stopwatch:
    """Times the stages of a run and reports them at the end."""

    def __init__(self):
        self.stages = []

    def stage(self, name, function, *args):
        start = time.monotonic()
        result = function(*args)
        took = time.monotonic() - start
        self.stages.append((name, took))
        print(f"vm: {name}: {took:.1f} s", flush=True)
        return result


# --- The kernel ---------------------------------------------------------------------------

class Kernel:
    def __init__(self, tree, version):
        self.tree, self.version = tree, version
        self.vmlinux = os.path.join(tree, "vmlinux")
        self.moddir = os.path.join(tree, "lib", "modules", version)

    def modules(self, names):
        """The .ko files for `names` and everything they need, dependencies first."""
        deps = {}
        with open(os.path.join(self.moddir, "modules.dep")) as f:
            for line in f:
                path, _, needs = line.partition(":")
                deps[path] = needs.split()
        by_name = {os.path.basename(p).split(".ko")[0].replace("-", "_"): p for p in deps}
        order = []

        def visit(path):
            for dep in deps[path]:
                visit(dep)
            if path not in order:
                order.append(path)

        for name in names:
            if name not in by_name:
                raise VmError(f"kernel {self.version} has no module {name}")
            visit(by_name[name])
        return [os.path.join(self.moddir, p) for p in order]


def kernel_package():
    for attempt in range(2):
        out = subprocess.run(["apt-cache", "depends", "linux-image-amd64"], text=True, capture_output=True).stdout
        for line in out.splitlines():
            words = line.split()
            if words[:1] == ["Depends:"]:
                return words[1]
        if attempt == 0:
            # A fresh machine may have no package lists yet.
            run(["apt-get", "update", "-qq"])
    raise VmError("apt-cache knows no linux-image-amd64")


def build_kernel(cache):
    """Debian's current kernel, unpacked (nothing is installed on the host)."""
    package = kernel_package()
    version = package[len("linux-image-"):]
    tree = os.path.join(cache, f"kernel-{version}")
    ready = os.path.join(tree, ".ready")
    if os.path.exists(ready):
        return Kernel(tree, version)
    for old in os.listdir(cache):
        if old.startswith("kernel-"):
            shutil.rmtree(os.path.join(cache, old), ignore_errors=True)
    work = tempfile.mkdtemp(dir=cache)
    try:
        run(["apt-get", "download", "-o", "APT::Sandbox::User=root", package], cwd=work)
        deb = [f for f in os.listdir(work) if f.endswith(".deb")][0]
        os.makedirs(tree)
        run(["dpkg-deb", "-x", os.path.join(work, deb), tree])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    # The package ships no modules.dep.
    run(["depmod", "-b", tree, version])
    # The uncompressed kernel boots in half the time: unpacking the bzImage under
    # emulation costs seconds. It carries a PVH note, so QEMU boots it directly.
    with open(os.path.join(tree, "boot", f"vmlinuz-{version}"), "rb") as f:
        bzimage = f.read()
    with open(os.path.join(tree, "vmlinux"), "wb") as f:
        f.write(extract_vmlinux(bzimage))
    open(ready, "w").close()
    return Kernel(tree, version)


def extract_vmlinux(bzimage):
    magic = b"\xfd7zXZ\x00"
    at = bzimage.find(magic)
    while at >= 0:
        try:
            out = lzma.LZMADecompressor().decompress(bzimage[at:])
            if out[:4] == b"\x7fELF":
                return out
        except lzma.LZMAError:
            pass
        at = bzimage.find(magic, at + 1)
    raise VmError("no xz-compressed ELF kernel inside the bzImage")


# --- The peer rootfs ----------------------------------------------------------------------

def deb_depends(deb):
    """Package names of a .deb's Depends, first of each alternative."""
    if not deb or not os.path.exists(deb):
        return []
    field = run(["dpkg-deb", "-f", deb, "Depends"]).stdout.strip()
    names = []
    for item in filter(None, (i.strip() for i in field.split(","))):
        names.append(item.split("|")[0].split("(")[0].split(":")[0].strip())
    return names


def build_rootfs(cache, extra=()):
    """Debian bookworm (minbase) with the peer and `extra` installed, as an ext4 image."""
    packages = sorted(set(PEER_PACKAGES) | set(extra))
    recipe = inspect.getsource(build_rootfs)
    key = hashlib.sha256((" ".join(packages) + MIRROR + recipe).encode()).hexdigest()[:16]
    image = os.path.join(cache, f"rootfs-{key}.ext4")
    if os.path.exists(image):
        return image
    for old in os.listdir(cache):
        if old.startswith("rootfs-"):
            os.remove(os.path.join(cache, old))
    tree = tempfile.mkdtemp(dir=cache, prefix="tree-")
    try:
        run(["debootstrap", "--variant=minbase", "bookworm", tree, MIRROR])
        with open(os.path.join(tree, "etc", "apt", "sources.list"), "w") as f:
            f.write(f"deb {MIRROR} bookworm main\ndeb {MIRROR} bookworm-updates main\n"
                    f"deb {MIRROR}-security bookworm-security main\n")
        env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
        run(["chroot", tree, "apt-get", "update", "-qq"], env=env)
        run(["chroot", tree, "apt-get", "install", "-y", "-qq", "--no-install-recommends"] + packages, env=env)
        run(["chroot", tree, "apt-get", "clean"])
        shutil.rmtree(os.path.join(tree, "var", "lib", "apt", "lists"))
        size = int(run(["du", "-sm", tree]).stdout.split()[0])
        partial = image + ".partial"
        run(["mke2fs", "-q", "-t", "ext4", "-L", "peer", "-d", tree, partial, f"{size * 5 // 4 + 128}M"])
        os.rename(partial, image)
    finally:
        shutil.rmtree(tree, ignore_errors=True)
    return image


# --- The initramfs ------------------------------------------------------------------------

class Cpio:
    """An initramfs in the kernel's newc format, written without root rights."""

    def __init__(self):
        self.entries = {}  # guest path -> (mode, data, rdev)

    def directory(self, path):
        parts = path.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            self.entries.setdefault("/".join(parts[:i]), (stat.S_IFDIR | 0o755, b"", 0))

    def add(self, path, data, mode=0o644):
        path = path.strip("/")
        if "/" in path:
            self.directory(os.path.dirname(path))
        self.entries[path] = (stat.S_IFREG | mode, data, 0)

    def add_file(self, path, source, mode=None):
        with open(source, "rb") as f:
            data = f.read()
        if mode is None:
            mode = os.stat(source).st_mode & 0o777
        self.add(path, data, mode)

    def symlink(self, path, target):
        self.directory(os.path.dirname(path.strip("/")))
        self.entries[path.strip("/")] = (stat.S_IFLNK | 0o777, target.encode(), 0)

    def node(self, path, major, minor):
        self.directory(os.path.dirname(path.strip("/")))
        self.entries[path.strip("/")] = (stat.S_IFCHR | 0o600, b"", (major, minor))

    def write(self, out):
        with open(out, "wb") as f:
            ino = 1
            for path in sorted(self.entries, key=lambda p: (p.count("/"), p)):
                mode, data, rdev = self.entries[path]
                self._entry(f, ino, path, mode, data, rdev)
                ino += 1
            self._entry(f, ino, "TRAILER!!!", 0, b"", 0)

    @staticmethod
    def _entry(f, ino, name, mode, data, rdev):
        major, minor = rdev if rdev else (0, 0)
        name_bytes = name.encode() + b"\0"
        fields = [ino, mode, 0, 0, 1, 0, len(data), 0, 0, major, minor, len(name_bytes), 0]
        header = b"070701" + b"".join(b"%08X" % v for v in fields)
        f.write(header + name_bytes)
        f.write(b"\0" * (-(len(header) + len(name_bytes)) % 4))
        f.write(data)
        f.write(b"\0" * (-len(data) % 4))


def add_program(cpio, source, guest_path):
    """A dynamically linked program with the libraries that ldd names, at their paths."""
    cpio.add_file(guest_path, source, 0o755)
    # ldd fails on a static program: it needs nothing then.
    out = subprocess.run(["ldd", source], text=True, capture_output=True).stdout
    for line in out.splitlines():
        words = line.split()
        path = None
        if "=>" in words and len(words) > words.index("=>") + 1 and words[words.index("=>") + 1].startswith("/"):
            path = words[words.index("=>") + 1]
        elif words and words[0].startswith("/"):
            path = words[0]
        if path:
            cpio.add_file(path, os.path.realpath(path), 0o755)


def base_initramfs(kernel, disk=False):
    """busybox, the modules in load order, /init and the device nodes needed before devtmpfs."""
    cpio = Cpio()
    busybox = shutil.which("busybox") or "/bin/busybox"
    cpio.add_file("bin/busybox", busybox, 0o755)
    for applet in run([busybox, "--list"]).stdout.split():
        if applet != "busybox":  # the list names busybox itself
            cpio.symlink(f"bin/{applet}", "busybox")
    for d in ("sbin", "usr/bin", "usr/sbin", "dev", "proc", "sys", "tmp", "peer", "etc"):
        cpio.directory(d)
    cpio.node("dev/console", 5, 1)
    cpio.add("etc/passwd", b"root:x:0:0:root:/root:/bin/sh\ne2e:x:1000:1000:e2e:/tmp:/bin/sh\n")
    cpio.add("etc/group", b"root:x:0:\ninput:x:101:\ne2e:x:1000:\n")
    order = []
    for path in kernel.modules(KERNEL_MODULES + (DISK_MODULES if disk else [])):
        name = os.path.basename(path)
        cpio.add_file(f"modules/{name}", path, 0o644)
        order.append(name)
    cpio.add("modules/order", ("\n".join(order) + "\n").encode())
    cpio.add_file("init", os.path.join(HERE, "guest", "init"), 0o755)
    cpio.add_file("e2e/lib.sh", os.path.join(HERE, "guest", "lib.sh"), 0o644)
    return cpio


# --- Booting ------------------------------------------------------------------------------

def boot(kernel, initrd, work, disk=None, timeout=600, memory=512):
    """Boots once; returns the guest's result lines as (tag, text), in order. Raises VmError
    when the guest did not reach its closing marker."""
    console = os.path.join(work, "console.log")
    results = os.path.join(work, "results.log")
    for f in (console, results):
        if os.path.exists(f):
            os.remove(f)
    cmd = ["qemu-system-x86_64", "-accel", "tcg", "-M", "q35", "-m", str(memory), "-smp", "2",
           "-nodefaults", "-display", "none", "-monitor", "none", "-no-reboot",
           "-kernel", kernel.vmlinux, "-initrd", initrd,
           "-append", "console=ttyS0 quiet loglevel=3 panic=-1",
           "-serial", f"file:{console}", "-serial", f"file:{results}"]
    if disk:
        cmd += ["-drive", f"file={disk},format=raw,if=virtio,snapshot=on"]
    try:
        proc = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout)
        qemu_out = proc.stdout
    except subprocess.TimeoutExpired:
        qemu_out = f"(QEMU killed after {timeout} s)"
    lines = read_results(results)
    if not any(f"{tag}|{text}" == DONE_MARKER for tag, text in lines):
        tail = ""
        if os.path.exists(console):
            with open(console, errors="replace") as f:
                tail = clean(f.read())[-3000:]
        raise VmError(f"the guest did not finish (no '{DONE_MARKER}' on its result port)\n"
                      f"QEMU: {qemu_out.strip()}\nconsole (end):\n{tail}")
    return lines


def clean(text):
    """The console text without \\r and terminal escape sequences."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\x1b":
            i += 1
            if i < len(text) and text[i] == "[":
                i += 1
                while i < len(text) and not text[i].isalpha():
                    i += 1
            i += 1
            continue
        if text[i] != "\r":
            out.append(text[i])
        i += 1
    return "".join(out)


def read_results(path):
    lines = []
    if os.path.exists(path):
        with open(path, errors="replace") as f:
            for line in clean(f.read()).split("\n"):
                tag, bar, text = line.partition("|")
                if bar:
                    lines.append((tag, text))
    return lines


def main():
    """Boots the bare VM once and lists the input devices: a check of the plumbing."""
    cache = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "..", "..", "build", "linux", "vm")
    os.makedirs(cache, exist_ok=True)
    problem = qemu_problem()
    if problem:
        sys.exit(f"QEMU cannot run here: {problem}")
    watch = Stopwatch()
    kernel = watch.stage("kernel", build_kernel, cache)
    cpio = base_initramfs(kernel)
    cpio.add("e2e/run.sh", b"load_modules\nemit devices cat /proc/bus/input/devices\n")
    initrd = os.path.join(cache, "smoke.cpio")
    cpio.write(initrd)
    for tag, text in watch.stage("boot", boot, kernel, initrd, cache):
        print(f"{tag}: {text}")


if __name__ == "__main__":
    main()
