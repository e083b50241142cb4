"""The throw-away VM of the Linux end-to-end tests and of the benchmark: Debian's own kernel
under QEMU's software emulation, booted with a small initramfs (busybox, the input and disk
modules, /init and the files of one run) that mounts a Debian bookworm disk and runs the
run's /e2e/run.sh.

The kernel tree and the disk image are built into a cache folder once and kept by content;
the disk is used with snapshot=on, so a run leaves it as it was. The guest writes results
on its second serial port, one `TAG|text` a line. QEMU exits 0 whatever happens inside, so
a boot counts only if the guest's closing marker arrived.
"""
import hashlib
import inspect
import lzma
import os
import shutil
import stat
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MIRROR = os.environ.get("GEARVANE_E2E_MIRROR", "http://deb.debian.org/debian")
MODULES = ["evdev", "uinput", "virtio_pci", "virtio_blk", "crc32c_generic", "ext4"]
# The players need python3 and python3-evdev, which input-remapper (the benchmark's peer)
# brings; man-db for the package check; udev and SDL2 for the client of the virtual
# shifter; and what gearvane needs, so that the .deb's own Depends seldom change the disk.
PACKAGES = ["input-remapper-daemon", "python3-inputremapper", "man-db", "udev", "libsdl2-2.0-0", "libevdev2",
            "libstdc++6", "libgcc-s1", "libc6"]
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


class Kernel:
    def __init__(self, tree, version):
        self.tree, self.version = tree, version
        self.vmlinux = os.path.join(tree, "vmlinux")
        self.moddir = os.path.join(tree, "lib", "modules", version)

    def modules(self, names):
        """The .ko files of `names` and of everything they need, dependencies first."""
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


def build_kernel(cache):
    """Debian's current kernel, unpacked (nothing is installed on the host)."""
    out = run(["apt-cache", "depends", "linux-image-amd64"]).stdout
    if "Depends:" not in out:
        run(["apt-get", "update", "-qq"])  # a fresh machine may have no package lists yet
        out = run(["apt-cache", "depends", "linux-image-amd64"]).stdout
    package = next((l.split()[1] for l in out.splitlines() if l.split()[:1] == ["Depends:"]), None)
    if not package:
        raise VmError("apt-cache knows no linux-image-amd64")
    version = package[len("linux-image-"):]
    tree = os.path.join(cache, f"kernel-{version}")
    if os.path.exists(os.path.join(tree, ".ready")):
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
    run(["depmod", "-b", tree, version])  # the package ships no modules.dep
    # The uncompressed kernel boots in half the time: unpacking the bzImage under emulation
    # costs seconds. It carries a PVH note, so QEMU boots it directly.
    with open(os.path.join(tree, "boot", f"vmlinuz-{version}"), "rb") as f:
        bzimage = f.read()
    with open(os.path.join(tree, "vmlinux"), "wb") as f:
        f.write(extract_vmlinux(bzimage))
    open(os.path.join(tree, ".ready"), "w").close()
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


def deb_depends(deb):
    """Package names of a .deb's Depends, the first of each alternative."""
    if not deb or not os.path.exists(deb):
        return []
    field = run(["dpkg-deb", "-f", deb, "Depends"]).stdout.strip()
    return [i.split("|")[0].split("(")[0].split(":")[0].strip() for i in field.split(",") if i.strip()]


def build_rootfs(cache, extra=()):
    """Debian bookworm (minbase) with PACKAGES and `extra` installed, as an ext4 image."""
    packages = sorted(set(PACKAGES) | set(extra))
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


class Cpio:
    """An initramfs in the kernel's newc format, written without root rights."""

    def __init__(self):
        self.entries = {}  # guest path -> (mode, data)

    def directory(self, path):
        parts = path.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            self.entries.setdefault("/".join(parts[:i]), (stat.S_IFDIR | 0o755, b""))

    def add(self, path, data, mode=0o644, kind=stat.S_IFREG):
        path = path.strip("/")
        if "/" in path:
            self.directory(os.path.dirname(path))
        self.entries[path] = (kind | mode, data)

    def add_file(self, path, source, mode=0o644):
        with open(source, "rb") as f:
            self.add(path, f.read(), mode)

    def write(self, out):
        with open(out, "wb") as f:
            paths = sorted(self.entries, key=lambda p: (p.count("/"), p)) + ["TRAILER!!!"]
            for ino, path in enumerate(paths, 1):
                mode, data = self.entries.get(path, (0, b""))
                name = path.encode() + b"\0"
                fields = [ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name), 0]
                header = b"070701" + b"".join(b"%08X" % v for v in fields)
                f.write(header + name + b"\0" * (-(len(header) + len(name)) % 4))
                f.write(data + b"\0" * (-len(data) % 4))


def initramfs(kernel, run_sh):
    """busybox, the modules in load order, /init, and `run_sh` as /e2e/run.sh; the caller
    adds the rest of /e2e."""
    cpio = Cpio()
    busybox = shutil.which("busybox") or "/bin/busybox"
    cpio.add_file("bin/busybox", busybox, 0o755)
    for applet in run([busybox, "--list"]).stdout.split():
        if applet != "busybox":
            cpio.add(f"bin/{applet}", b"busybox", 0o777, stat.S_IFLNK)
    for d in ("dev", "proc", "sys", "tmp", "peer"):
        cpio.directory(d)
    paths = kernel.modules(MODULES)
    for path in paths:
        cpio.add_file(f"modules/{os.path.basename(path)}", path)
    cpio.add("modules/order", "".join(os.path.basename(p) + "\n" for p in paths).encode())
    cpio.add_file("init", os.path.join(HERE, "init"), 0o755)
    cpio.add("e2e/run.sh", run_sh.encode())
    return cpio


def boot(kernel, initrd, disk, work, timeout):
    """Boots once; returns the guest's result lines as (tag, text), in order. Raises VmError
    when the guest did not reach its closing marker."""
    console, results = os.path.join(work, "console.log"), os.path.join(work, "results.log")
    for f in (console, results):
        if os.path.exists(f):
            os.remove(f)
    cmd = ["qemu-system-x86_64", "-accel", "tcg", "-M", "q35", "-m", "512", "-smp", "2", "-nodefaults",
           "-display", "none", "-monitor", "none", "-no-reboot", "-kernel", kernel.vmlinux, "-initrd", initrd,
           "-append", "console=ttyS0 quiet loglevel=3 panic=-1", "-serial", f"file:{console}",
           "-serial", f"file:{results}", "-drive", f"file={disk},format=raw,if=virtio,snapshot=on"]
    try:
        qemu = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout).stdout
    except subprocess.TimeoutExpired:
        qemu = f"(QEMU killed after {timeout} s)"
    lines = []
    if os.path.exists(results):
        with open(results, errors="replace") as f:
            for line in f.read().replace("\r", "").split("\n"):
                tag, bar, text = line.partition("|")
                if bar:
                    lines.append((tag, text))
    if ("@@", DONE_MARKER[3:]) not in lines:
        tail = open(console, errors="replace").read()[-3000:] if os.path.exists(console) else ""
        raise VmError(f"the guest did not finish (no '{DONE_MARKER}' on its result port)\n"
                      f"QEMU: {qemu.strip()}\nconsole (end):\n{tail}")
    return lines
