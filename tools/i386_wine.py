#!/usr/bin/env python3
"""32-bit Wine under emulation, for a machine whose kernel refuses 32-bit programs: Debian's
32-bit Wine (wine32, libwine and the C library they load, of the installed Wine's version)
unpacked into a folder of its own, beside a copy of the 64-bit loader, and run by qemu-i386
through binfmt_misc while a block runs. Nothing is installed: the system's "wine" keeps running
64-bit Wine alone, and the registration is removed when the block ends.

The emulator is qemu-user from Debian's backports suite: the stable suite's qemu 7.2 starts each
32-bit Wine process in about 100 s (Wine reserves its address space 64 KiB at a time when the
emulator does not honour MAP_FIXED_NOREPLACE), the backported one in about a second.

    prepare(folder)            fetches and unpacks, once; returns the Wine loader to run
    registered(folder)         a block with qemu-i386 registered for 32-bit x86 programs
    environment(folder)        what Wine under emulation needs in its environment

Used by the release test and by ./run. From a shell (as root, or as a user who may sudo):
    i386_wine.py prepare FOLDER     prints the loader
    i386_wine.py register FOLDER    registers qemu-i386 until unregister
    i386_wine.py unregister
    i386_wine.py root FOLDER        prints QEMU_LD_PREFIX, the unpacked root"""

import contextlib
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

# The binfmt_misc entry, named after the project so that only ours is ever removed.
ENTRY = "donglecensus-i386"
BINFMT = "/proc/sys/fs/binfmt_misc"
# A 32-bit x86 ELF program or shared object (e_ident and e_machine EM_386), as qemu registers it.
MAGIC = r"\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00"
MASK = r"\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff"
# 32-bit Wine's loader and builtin DLLs. Its ntdll.so needs the C library alone: the system's
# own 32-bit one (libc6-i386, which tools/install-deps installs for this), found by the system's
# 32-bit ld.so. Debian's i386 C library unpacked beside it, or FreeType (which only silences a
# warning on standard error), made the 32-bit half of wineboot fail under the emulator.
I386_PACKAGES = ("wine32", "libwine")
SYSTEM_WINE = "/usr/lib/x86_64-linux-gnu/wine"


def run(args, **kw):
    if os.geteuid() != 0:
        args = ["sudo"] + args
    return subprocess.run(args, check=True, stdin=subprocess.DEVNULL, **kw)


def apt(state, *args, arch=None, sources=None):
    """apt-get with a state of its own in the folder state: the system's lists, cache and
    installed packages are neither read nor changed."""
    opts = [f"Dir::State::Lists={state}/lists", f"Dir::Cache={state}/cache",
            f"Dir::State::status={state}/status", "APT::Sandbox::User=root"]
    if arch:
        opts += [f"APT::Architecture={arch}", f"APT::Architectures::={arch}"]
    if sources:
        opts += [f"Dir::Etc::SourceList={sources}", "Dir::Etc::SourceParts=/dev/null"]
    cmd = ["apt-get", "-qq"] + [a for o in opts for a in ("-o", o)] + list(args)
    return run(cmd, cwd=state, stdout=subprocess.DEVNULL)


def backports_source():
    """A sources line for the backports suite of the Debian archive this machine uses."""
    with open("/etc/os-release", encoding="utf-8") as f:
        codename = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line).get(
            "VERSION_CODENAME", "").strip('"')
    out = subprocess.run(["apt-get", "indextargets", "--format", "$(REPO_URI) $(RELEASE) $(ORIGIN)"],
                         check=True, capture_output=True, text=True).stdout
    for line in sorted(set(out.splitlines())):
        uri, release, origin = (line.split() + ["", "", ""])[:3]
        if release == codename and origin == "Debian":
            return f"deb {uri} {codename}-backports main\n"
    raise RuntimeError(f"no Debian {codename} archive among apt's sources")


def place(folder):
    """Where the files for folder lie: folder itself, unless its path holds white space. Wine
    cannot lie there: wineboot passes the path of its wine.inf to rundll32 unquoted, and the
    32-bit half of the prefix is then never made. Then in /var/tmp, under a name made from
    folder's path."""
    folder = os.path.abspath(folder)
    if not any(c.isspace() for c in folder):
        return folder
    digest = hashlib.sha256(folder.encode()).hexdigest()[:12]
    return os.path.join("/var/tmp", f"donglecensus-i386-wine-{digest}")


def prepare(folder):
    """Unpacks 32-bit Wine and the emulator for folder (once: kept while the installed Wine's
    version is the same); returns the 64-bit loader that starts 32-bit programs through it."""
    folder = place(folder)
    version = subprocess.run(["dpkg-query", "-W", "-f=${Version}", "wine64"], check=True,
                             capture_output=True, text=True).stdout
    made = f"{version} {' '.join(I386_PACKAGES)}"
    root = os.path.join(folder, "root")
    loader = os.path.join(root, "usr", "lib", "wine", "wine64")
    ready = os.path.join(folder, "ready")
    if os.path.exists(ready) and open(ready, encoding="utf-8").read() == made:
        return loader
    shutil.rmtree(folder, ignore_errors=True)
    state = os.path.join(folder, "apt")
    for sub in ("lists/partial", "cache/archives/partial", "debs"):
        os.makedirs(os.path.join(state, sub))
    open(os.path.join(state, "status"), "w").close()
    debs = os.path.join(state, "debs")
    apt(state, "update", arch="i386")
    try:
        apt(state, "download", *[p + (f"={version}" if p in ("wine32", "libwine") else "")
                                 for p in I386_PACKAGES], arch="i386")
    except subprocess.CalledProcessError as e:
        raise RuntimeError(f"32-bit Wine {version}, the installed 64-bit Wine's version, cannot "
                           "be had from the archive: bring Wine up to date (apt-get install "
                           "--only-upgrade wine wine64)") from e
    sources = os.path.join(state, "backports.list")
    with open(sources, "w", encoding="utf-8") as f:
        f.write(backports_source())
    apt(state, "update", sources=sources)
    apt(state, "download", "qemu-user", sources=sources)
    for deb in sorted(os.listdir(state)):
        if deb.endswith(".deb"):
            os.rename(os.path.join(state, deb), os.path.join(debs, deb))
    for deb in sorted(os.listdir(debs)):
        path = os.path.join(debs, deb)
        if deb.startswith("qemu-user_"):
            with tempfile.TemporaryDirectory() as tmp:
                subprocess.run(f"dpkg-deb --fsys-tarfile '{path}' | tar -x -C '{tmp}' "
                               "./usr/bin/qemu-i386", shell=True, check=True)
                shutil.move(os.path.join(tmp, "usr", "bin", "qemu-i386"),
                            os.path.join(folder, "qemu-i386"))
        else:
            subprocess.run(["dpkg-deb", "-x", path, root], check=True)
    # libwine's installation script marks mingw's zlib1.dll as a Wine builtin; the 64-bit
    # libwine's copy of the 32-bit one is that file.
    i386_windows = os.path.join(root, "usr", "lib", "i386-linux-gnu", "wine", "i386-windows")
    shutil.copy(os.path.join(SYSTEM_WINE, "i386-windows", "zlib1.dll"), i386_windows)
    # The 64-bit loader finds its ntdll.so, the 32-bit loader ("wine") and the 32-bit DLLs it
    # copies into the prefix relative to where it lies: a copy of it, beside the 32-bit one.
    shutil.copy("/usr/lib/wine/wine64", loader)
    wine64 = os.path.join(root, "usr", "lib", "x86_64-linux-gnu", "wine")
    os.makedirs(wine64)
    for sub in ("x86_64-unix", "x86_64-windows"):
        os.symlink(os.path.join(SYSTEM_WINE, sub), os.path.join(wine64, sub))
    os.symlink(i386_windows, os.path.join(wine64, "i386-windows"))
    shutil.rmtree(state)  # what was fetched is unpacked
    with open(ready, "w", encoding="utf-8") as f:
        f.write(made)
    return loader


def environment(folder):
    """The guest's libraries come from the unpacked root."""
    return {"QEMU_LD_PREFIX": os.path.join(place(folder), "root")}


def unregister():
    """Removes the entry of a run cut short, or of this one."""
    entry = os.path.join(BINFMT, ENTRY)
    if os.path.exists(entry):
        run(["sh", "-c", f"echo -1 > {entry}"])


def register(folder):
    """qemu-i386 runs 32-bit x86 programs from now on. The interpreter is opened at
    registration (flag F), so it serves every mount namespace and needs no path in the guest."""
    if not os.path.exists(os.path.join(BINFMT, "register")):
        run(["mount", "-t", "binfmt_misc", "binfmt_misc", BINFMT])
    unregister()
    qemu = os.path.join(place(folder), "qemu-i386")
    line = f":{ENTRY}:M::{MAGIC}:{MASK}:{qemu}:F"
    run(["sh", "-c", f"printf '%s' '{line}' > {BINFMT}/register"])


@contextlib.contextmanager
def registered(folder):
    """qemu-i386 runs 32-bit x86 programs while the block runs."""
    register(folder)
    try:
        yield
    finally:
        unregister()


def main():
    args = sys.argv[1:]
    if args[:1] == ["prepare"] and len(args) == 2:
        print(prepare(args[1]))
    elif args[:1] == ["register"] and len(args) == 2:
        register(args[1])
    elif args[:1] == ["root"] and len(args) == 2:
        print(environment(args[1])["QEMU_LD_PREFIX"])
    elif args == ["unregister"]:
        unregister()
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
