"""A project-local Wine prefix for the end-to-end tests: planting devices, running programs and
reading the registry back. Only the wineserver of this prefix is ever stopped.

usage: winetest.py start|stop win32|win64 PREFIX
    starts the prefix's server and keeps it running for the tests that follow, or stops it
       winetest.py arch
    prints the Wine to run the program with: win32, or win64 (saying why on stderr) where the
    kernel refuses 32-bit programs; fails when Wine fails otherwise
       winetest.py loader win32|win64
    prints that Wine's loader"""

import contextlib
import errno
import os
import shutil
import subprocess
import sys
import tempfile
import time

ENUM_PATH = r"System\CurrentControlSet\Enum"
ENUM = "HKEY_LOCAL_MACHINE\\" + ENUM_PATH
DEVICE_CLASSES = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\DeviceClasses"
RECORD_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Tavrel"
RECORD_VALUE = "DonglePlugedIn"

# Wine lists a device under Enum only when its key names a setup class.
CLASS_GUIDS = {
    "USB": "{36FC9E60-C465-11CF-8056-444553540000}",
    "HID": "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}",
}
SYSTEM_CLASS = "{4D36E97D-E325-11CE-BFC1-08002BE10318}"

# Wine takes the ANSI code page of a process from LANG.
LOCALES = {1252: "en_US.UTF-8", 932: "ja_JP.UTF-8", 936: "zh_CN.UTF-8", 1251: "ru_RU.UTF-8"}


def reg_hex(kind, data):
    return f"hex({kind}):" + ",".join(f"{b:02x}" for b in data)


def multi_sz(ids, terminated=True):
    text = "".join(i + "\0" for i in ids) + "\0" if terminated else "\0".join(ids)
    return text.encode("utf-16-le")


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


# The loader of Debian's wine32 package, which the "wine" command runs 32-bit programs with.
WINE32_LOADER = "/usr/lib/wine/wine"

# The exit status by which a test says it did not run (CTest's SKIP_RETURN_CODE).
SKIPPED = 77


def loader(arch):
    """The Wine loader for 32-bit ("win32") or 64-bit ("win64") programs. Debian's wine64 keeps
    its loader out of PATH."""
    if arch == "win32":
        return "wine"
    for candidate in (shutil.which("wine64"), "/usr/lib/wine/wine64"):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return "wine64"


def unavailable(arch):
    """Why this machine cannot run Wine for arch, or None when it can: only a kernel that refuses
    the loader itself ("Exec format error", a kernel booted without 32-bit emulation), or a
    32-bit Wine that tools/install-deps could not install (it says so), counts.
    Raises RuntimeError when Wine fails for any other reason, so that a broken Wine fails the
    tests instead of skipping them."""
    if arch == "win32" and not os.path.exists(WINE32_LOADER):
        return f"32-bit Wine is not installed ({WINE32_LOADER} is missing: tools/install-deps " \
            "installs wine32:i386 only where the kernel runs 32-bit programs, and says when it " \
            "cannot)"
    try:
        r = subprocess.run([loader(arch), "--version"], capture_output=True, text=True,
                           stdin=subprocess.DEVNULL, timeout=60)
    except OSError as e:
        if e.errno == errno.ENOEXEC:
            return f"{loader(arch)}: {e.strerror}"
        raise RuntimeError(f"{loader(arch)} cannot be run: {e}") from e
    if r.returncode == 0:
        return None
    why = (r.stderr.strip().splitlines() or [f"exit status {r.returncode}"])[-1]
    if "Exec format error" in r.stderr:
        return f"{loader(arch)} --version: {why}"
    raise RuntimeError(f"{loader(arch)} --version fails: {why}")


def skip_unless_runnable(arch):
    """Ends the test as skipped, saying why, when this machine's kernel cannot run Wine for
    arch."""
    why = unavailable(arch)
    if why is not None:
        print(f"skipped: this machine runs no {arch} Wine ({why})")
        print("0 passed, 0 failed, 1 skipped")
        sys.exit(SKIPPED)


class Prefix:
    def __init__(self, path, arch="win32"):
        self.path = os.path.abspath(path)
        self.loader = loader(arch)
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=self.path, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        WINEARCH=arch, LANG=LOCALES[1252], LC_ALL="")
        if arch == "win64":
            self.env["WINELOADER"] = self.loader
        self.env.pop("DISPLAY", None)
        self.work = os.path.join(self.path, "planted.reg")
        # Keys planted so far, kept in the prefix so that a run cut short is cleaned up by the
        # next one.
        self.planted_list = os.path.join(self.path, "planted.txt")
        self.planted = set()
        if os.path.exists(self.planted_list):
            with open(self.planted_list, encoding="utf-8") as f:
                self.planted = set(f.read().split("\n")) - {""}

    def start(self):
        """Creates the prefix when missing and keeps its wineserver running until stop()."""
        os.makedirs(self.path, exist_ok=True)
        # A server left by an earlier run, cut short, is this prefix's own: end it. The new one
        # must not hold the caller's output open.
        self.stop()
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # wineboot creates the prefix when missing and starts its services, which the server
        # keeps; they must not hold the output of a later program open.
        boot = [self.loader, "wineboot"]
        quiet = dict(env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
        if subprocess.run(boot, **quiet).returncode != 0:
            # Seen once on a loaded machine, right after the emulated x86 tests: wineboot exits
            # 1 and the next start is clean. Once more, from a new server, saying so.
            print("wineboot failed; starting the prefix once more", file=sys.stderr)
            self.stop()
            subprocess.run(["wineserver", "-p"], check=True, **quiet)
            subprocess.run(boot, check=True, **quiet)

    @contextlib.contextmanager
    def session(self, started=False):
        """Keeps the server running for a block: started here and stopped after it, unless the
        tests' fixture started it already (started=True). The keys planted in the block are
        removed at its end."""
        if not started:
            self.start()
        try:
            yield self
            self.import_reg(self.clear_lines())
        finally:
            if not started:
                self.stop()

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wine(self, args, codepage=1252, steps=(), stdout_full=False):
        """Runs a Windows program; returns its exit status, stdout bytes and stderr bytes. The
        output goes through files, so a process it leaves behind cannot hold a pipe open. steps
        are (seconds, function) pairs, each called that long after the program started.
        stdout_full: standard output is /dev/full, where every write fails (nothing is read)."""
        env = dict(self.env, LANG=LOCALES[codepage])
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
                open("/dev/full", "wb") as full:
            start = time.monotonic()
            p = subprocess.Popen([self.loader] + args, env=env, stdin=subprocess.DEVNULL,
                                 stdout=full if stdout_full else out, stderr=err)
            try:
                for at, step in sorted(steps, key=lambda s: s[0]):
                    time.sleep(max(0.0, start + at - time.monotonic()))
                    step()
                returncode = p.wait(timeout=120)
            finally:
                if p.poll() is None:
                    p.kill()  # only the process started here
                    p.wait()
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(p.args, returncode, out.read(), err.read())

    def import_reg(self, lines):
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
        with open(self.work, "w", encoding="utf-16") as f:
            f.write(text)
        with open(self.planted_list, "w", encoding="utf-8") as f:
            f.write("\n".join(sorted(self.planted)))
        r = self.wine(["reg", "import", self.work])
        if r.returncode != 0 and not r.stderr.strip():
            # Seen once on a freshly booted prefix: reg fails without a word. Once more, saying so.
            print("reg import failed without a message; trying once more", file=sys.stderr)
            r = self.wine(["reg", "import", self.work])
        if r.returncode != 0:
            raise RuntimeError("reg import failed: " + r.stderr.decode(errors="replace"))

    def clear_lines(self):
        """Lines that delete every key planted so far."""
        lines = [f"[-{key}]" for key in sorted(self.planted)]
        self.planted.clear()
        return lines

    def device_lines(self, instance_id, props):
        """Lines that plant one device. props maps a value name to a .reg data text."""
        enumerator, device, _ = instance_id.split("\\", 2)
        self.planted.add(f"{ENUM}\\{enumerator}\\{device}")
        lines = [f"[{ENUM}\\{instance_id}]",
                 f'"ClassGUID"="{CLASS_GUIDS.get(enumerator.upper(), SYSTEM_CLASS)}"']
        lines += [f'"{name}"={data}' for name, data in props.items()]
        return lines + [""]

    def interface_lines(self, instance_id, guid, linked):
        """Lines that plant one device interface of class guid ("{...}"); Wine lists a linked
        one as present."""
        guid = guid.lower()
        link = instance_id.replace("\\", "#") + "#" + guid
        key = f"{DEVICE_CLASSES}\\{guid}\\##?#{link}"
        symbolic_link = reg_string("\\\\?\\" + link)
        self.planted.add(key)
        return [f"[{key}]", f'"DeviceInstance"={reg_string(instance_id)}', "",
                f"[{key}\\#]", f'"SymbolicLink"={symbolic_link}', "",
                f"[{key}\\#\\Control]", f'"Linked"=dword:{1 if linked else 0:08x}', ""]

    def record_lines(self, before):
        """Lines that set the record as it should be before a run: a value, 'key' or 'absent'."""
        lines = [f"[-{RECORD_KEY}]"]
        if before != "absent":
            lines.append(f"[{RECORD_KEY}]")
            if before != "key":
                lines.append(f'"{RECORD_VALUE}"=dword:{int(before):08x}')
        return lines + [""]

    def read_record(self):
        """The record's value as an int, or None when it is missing; raises on a wrong type."""
        r = self.wine(["reg", "query", RECORD_KEY.replace("HKEY_LOCAL_MACHINE", "HKLM"), "/v",
                       RECORD_VALUE])
        for line in r.stdout.decode(errors="replace").splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[0] == RECORD_VALUE:
                if parts[1] != "REG_DWORD":
                    raise RuntimeError(f"record has type {parts[1]}")
                return int(parts[2], 16)
        return None


def report(failures):
    """Prints the failures and the closing count; returns the exit status."""
    for f in failures:
        print("FAIL", f)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


def main():
    if sys.argv[1:] == ["arch"]:
        try:
            why = unavailable("win32")
        except RuntimeError as e:
            sys.exit(f"Wine does not run: {e}")
        if why:
            print(f"this machine runs no 32-bit Wine ({why}): using 64-bit Wine and the "
                  "program's code built for x64", file=sys.stderr)
        print("win64" if why else "win32")
        return 0
    if len(sys.argv) == 3 and sys.argv[1] == "loader" and sys.argv[2] in ("win32", "win64"):
        print(loader(sys.argv[2]))
        return 0
    if len(sys.argv) != 4 or sys.argv[1] not in ("start", "stop") or \
            sys.argv[2] not in ("win32", "win64"):
        sys.exit(__doc__)
    action, arch, path = sys.argv[1:]
    if action == "start":
        skip_unless_runnable(arch)
        Prefix(path, arch).start()
    else:
        Prefix(path, arch).stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
