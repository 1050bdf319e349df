"""Runs Windows programs under Wine on a virtual display for end-to-end tests.

A test picks the build it can run with `choose()`, makes a fresh `Prefix` (a
copy of a template Wine prefix that is built once per architecture and
cached), runs programs in it with `Prefix.run()`, and reads what they showed:
the exit code, the message boxes in order, Wine's debug output and, on
request, a screenshot of each box.

    exe, arch = winerun.choose(i686_exe, x64_exe)
    with winerun.Prefix(arch) as prefix:
        result = prefix.run(exe, ["/q"])
        self.assertEqual(result.boxes, [("Caption", "Text")])

The prefix is deleted when the `with` block ends normally and kept (its path
is printed) when it ends with an exception, failed assertions included.

Every wait is bounded: a run that outlives its timeout kills the prefix's
wineserver and raises `WineTimeout`.  A message box that cannot be matched
with its trace line and its window raises `WineError`.

Environment: SP_E2E_CACHE names the cache directory (templates, scenario
prefixes, helper programs) when the caller gives none; SP_E2E_VERBOSE=1 logs
each step to stderr.
"""

import atexit
import ctypes
import fcntl
import functools
import getpass
import hashlib
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field
from pathlib import Path, PureWindowsPath

WINE_DIR = Path("/usr/lib/wine")
WINESERVER = WINE_DIR / "wineserver64"
HERE = Path(__file__).resolve().parent
BOXTEXT_SOURCE = HERE / "probe" / "boxtext.c"

# How long a message box may take to show its window after its trace line (and
# the other way round), and to go away once answered.
BOX_WAIT = 15.0
POLL = 0.05


class WineError(RuntimeError):
    """A run did something the driver cannot account for."""


class WineTimeout(WineError):
    """A run did not end within its timeout; its prefix was killed.

    boxes holds the message boxes that the run showed before.
    """

    def __init__(self, message, boxes=()):
        super().__init__(message)
        self.boxes = list(boxes)


def _log(*parts):
    if os.environ.get("SP_E2E_VERBOSE"):
        print("[winerun %.3f]" % time.monotonic(), *parts, file=sys.stderr,
              flush=True)


# --- architecture -----------------------------------------------------------


@dataclass(frozen=True)
class Arch:
    """One way to run Windows programs: a Wine loader and a prefix kind."""

    name: str  # "i686" or "x86_64", the build the tests run
    winearch: str  # WINEARCH of the prefix: "win32" or "win64"
    loader: Path  # the Wine loader that starts a program
    cc: str  # the mingw-w64 C compiler for helper programs


I686 = Arch("i686", "win32", WINE_DIR / "wine", "i686-w64-mingw32-gcc")
X86_64 = Arch("x86_64", "win64", WINE_DIR / "wine64", "x86_64-w64-mingw32-gcc")


@functools.cache
def can_run_win32() -> bool:
    """True when this machine runs 32-bit Wine (`wine --version` works)."""
    try:
        out = subprocess.run([str(I686.loader), "--version"],
                             capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return out.returncode == 0 and out.stdout.startswith("wine-")


def default_arch() -> Arch:
    """The 32-bit setup where it runs, else the 64-bit one."""
    return I686 if can_run_win32() else X86_64


def choose(i686_exe, x64_exe):
    """Returns (exe, Arch): the i686 build where 32-bit Wine runs, else x64."""
    arch = default_arch()
    return Path(i686_exe if arch is I686 else x64_exe), arch


# --- virtual display --------------------------------------------------------

_xvfb = None  # (Popen, display name) of this process's Xvfb


def display() -> str:
    """The display name (":N") of this process's Xvfb, started on first use."""
    global _xvfb
    if _xvfb and _xvfb[0].poll() is None:
        return _xvfb[1]
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
         "-nolisten", "tcp", "-noreset"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True, preexec_fn=_end_with_parent)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 30
    try:
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([read_end], [], [], left)[0]:
                raise WineError("Xvfb did not report its display in 30 s")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise WineError("Xvfb exited at start (code %s)" % proc.wait())
            number += chunk
    except BaseException:
        proc.kill()
        raise
    finally:
        os.close(read_end)
    if _xvfb is None:
        atexit.register(_stop_display)
    _xvfb = (proc, ":" + number.decode().strip())
    _log("Xvfb", _xvfb[1], "pid", proc.pid)
    return _xvfb[1]


def _end_with_parent():
    """Makes the child get SIGTERM when this process dies, even by SIGKILL."""
    pr_set_pdeathsig = 1
    ctypes.CDLL(None).prctl(pr_set_pdeathsig, signal.SIGTERM)


def _stop_display():
    if _xvfb and _xvfb[0].poll() is None:
        _xvfb[0].terminate()
        try:
            _xvfb[0].wait(10)
        except subprocess.TimeoutExpired:
            _xvfb[0].kill()


class _X:
    """A connection to the display, to send events that xdotool cannot.

    `xdotool key --window` types into a focused window through XTEST, like a
    real keyboard; with Wine that Return was seen to also answer the boxes
    that followed, or to get lost.  A key sent with XSendEvent reaches the
    one window it is sent to.
    """

    KEY_PRESS, KEY_RELEASE, CLIENT_MESSAGE = 2, 3, 33

    class _Key(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("root", ctypes.c_ulong),
                    ("subwindow", ctypes.c_ulong), ("time", ctypes.c_ulong),
                    ("x", ctypes.c_int), ("y", ctypes.c_int),
                    ("x_root", ctypes.c_int), ("y_root", ctypes.c_int),
                    ("state", ctypes.c_uint), ("keycode", ctypes.c_uint),
                    ("same_screen", ctypes.c_int)]

    class _Client(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class _Event(ctypes.Union):
        pass

    _Event._fields_ = [("key", _Key), ("client", _Client),
                       ("pad", ctypes.c_long * 24)]

    _lib = None
    _on_error = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p,
                                 ctypes.c_void_p)(lambda d, e: 0)

    def __init__(self, name):
        if _X._lib is None:
            lib = ctypes.CDLL("libX11.so.6")
            lib.XOpenDisplay.restype = ctypes.c_void_p
            lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
            lib.XDefaultRootWindow.restype = ctypes.c_ulong
            lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
            lib.XKeysymToKeycode.restype = ctypes.c_ubyte
            lib.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            lib.XStringToKeysym.restype = ctypes.c_ulong
            lib.XStringToKeysym.argtypes = [ctypes.c_char_p]
            lib.XInternAtom.restype = ctypes.c_ulong
            lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p,
                                        ctypes.c_int]
            lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                       ctypes.c_int, ctypes.c_long,
                                       ctypes.POINTER(_X._Event)]
            lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
            # A window that is gone must not end this process.
            lib.XSetErrorHandler(_X._on_error)
            _X._lib = lib
        self.name = name
        self.dpy = _X._lib.XOpenDisplay(name.encode())
        if not self.dpy:
            raise WineError("cannot open display " + name)
        self.root = _X._lib.XDefaultRootWindow(self.dpy)

    @staticmethod
    def keysym(name: str) -> int:
        keysym = _X._lib.XStringToKeysym(name.encode())
        if not keysym:
            raise ValueError("unknown key name %r" % name)
        return keysym

    def key(self, window: int, keysym_name: str):
        lib = _X._lib
        code = lib.XKeysymToKeycode(self.dpy, self.keysym(keysym_name))
        for kind, mask in ((self.KEY_PRESS, 1), (self.KEY_RELEASE, 2)):
            event = _X._Event()
            k = event.key
            k.type, k.send_event, k.display = kind, 1, self.dpy
            k.window, k.root, k.keycode, k.same_screen = (window, self.root,
                                                          code, 1)
            lib.XSendEvent(self.dpy, window, 1, mask, ctypes.byref(event))
        lib.XSync(self.dpy, 0)

    def close(self, window: int):
        """Asks the window to close, as a window manager's close button."""
        lib = _X._lib
        event = _X._Event()
        c = event.client
        c.type, c.send_event, c.display, c.window = (self.CLIENT_MESSAGE, 1,
                                                     self.dpy, window)
        c.message_type = lib.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        c.format = 32
        c.data[0] = lib.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        lib.XSendEvent(self.dpy, window, 0, 0, ctypes.byref(event))
        lib.XSync(self.dpy, 0)

    def disconnect(self):
        if self.dpy:
            _X._lib.XCloseDisplay(self.dpy)
            self.dpy = None


def _xdotool(disp, *args) -> str:
    out = subprocess.run(["xdotool", *args], capture_output=True,
                         env=dict(os.environ, DISPLAY=disp), timeout=20)
    return out.stdout.decode("utf-8", "replace")


def _windows(disp) -> list:
    """Ids of the mapped top-level windows that Wine made (with a class)."""
    return _xdotool(disp, "search", "--onlyvisible", "--classname", ".").split()


# --- Wine's trace -----------------------------------------------------------

# Each line starts with the thread id, after the time and the process id when
# the channels +timestamp and +pid are on.
_THREAD = r"^(?:\d+\.\d+:)?((?:[0-9a-f]+:)?[0-9a-f]+):"
_MSGBOX = re.compile(_THREAD + r'trace:msgbox:MSGBOX_OnInit (L".*)$')
_RELAY_CALL = re.compile(
    _THREAD + r"Call user32\.MessageBoxW\(.*,([0-9a-fA-F]+)\) ret=")


def decode_wine_string(literal: str):
    """Decodes Wine's debugstr_w form L"..." to (text, complete).

    Wine writes \\n \\r \\t \\" \\\\ and \\XXXX (four hex digits) for the other
    characters outside printable ASCII, and cuts long strings, ending them
    with "... after the closing quote; then complete is False.
    """
    if not literal.startswith('L"'):
        raise ValueError("not a Wine string: " + literal)
    units, i = [], 2
    simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(literal):
        c = literal[i]
        if c == '"':
            rest = literal[i + 1:]
            if rest not in ("", "..."):
                raise ValueError("text after a Wine string: " + rest)
            text = "".join(units).encode("utf-16-le", "surrogatepass")
            return text.decode("utf-16-le", "replace"), rest == ""
        if c == "\\":
            nxt = literal[i + 1:i + 2]
            if nxt in simple:
                units.append(simple[nxt])
                i += 2
                continue
            hexa = literal[i + 1:i + 5]
            if not re.fullmatch(r"[0-9a-fA-F]{4}", hexa):
                raise ValueError("bad escape in Wine string: " + literal)
            units.append(chr(int(hexa, 16)))
            i += 5
            continue
        units.append(c)
        i += 1
    raise ValueError("unterminated Wine string: " + literal)


@dataclass
class _Trace:
    """Message boxes read so far from a growing debug-output file."""

    path: Path
    offset: int = 0
    pending: str = ""
    boxes: list = field(default_factory=list)  # (text, complete, flags)
    calls: dict = field(default_factory=dict)  # thread -> flags of its call

    def poll(self):
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        self.offset += len(data)
        lines = (self.pending + data.decode("utf-8", "replace")).split("\n")
        self.pending = lines.pop()
        for line in lines:
            line = line.rstrip("\r")
            call = _RELAY_CALL.match(line)
            if call:
                self.calls[call.group(1)] = int(call.group(2), 16)
                continue
            box = _MSGBOX.match(line)
            if box:
                text, complete = decode_wine_string(box.group(2))
                flags = self.calls.pop(box.group(1), None)
                self.boxes.append((text, complete, flags))


# --- results ----------------------------------------------------------------


class Box(tuple):
    """One message box, equal to the pair (caption, text).

    flags is the MessageBoxW style (None if the program called another entry
    point, such as MessageBoxA); shot is the screenshot path or None.
    """

    def __new__(cls, caption, text, flags=None, shot=None):
        box = super().__new__(cls, (caption, text))
        box.flags, box.shot = flags, shot
        return box

    caption = property(lambda self: self[0])
    text = property(lambda self: self[1])

    def __repr__(self):
        flags = "" if self.flags is None else ", flags=0x%x" % self.flags
        return "Box(%r, %r%s)" % (self[0], self[1], flags)


@dataclass
class Result:
    """What one run showed and did."""

    exit_code: object  # low 8 bits of the Windows exit code; None if killed
    boxes: list  # Box items, in the order shown
    stdout: str
    stderr: str  # Wine's debug output, +msgbox and the caller's channels
    elapsed: float  # seconds


# --- prefixes ---------------------------------------------------------------


def cache_dir(given=None) -> Path:
    """The cache directory: given, else $SP_E2E_CACHE, else one in /tmp."""
    path = given or os.environ.get("SP_E2E_CACHE") or Path(
        tempfile.gettempdir(), "sp-e2e-cache-%d" % os.getuid())
    path = Path(path).resolve()
    path.mkdir(parents=True, exist_ok=True)
    return path


@functools.cache
def _wine_version() -> str:
    out = subprocess.run([str(X86_64.loader), "--version"], capture_output=True,
                         text=True, timeout=30)
    return out.stdout.strip() or "unknown"


# No Mono or Gecko installers, and no menu entries or file associations
# written to the Unix home directory.
DLL_OVERRIDES = "mscoree,mshtml=;winemenubuilder.exe=d"


def _base_env(arch: Arch, prefix: Path) -> dict:
    """The environment of Wine in prefix, the same on every machine.

    The locale is C.UTF-8 (Wine's user locale en-US), so that arguments and
    file names outside ASCII reach the program; a caller's env may change it.
    """
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("WINE", "LC_", "LANG"))}
    env.update(WINEPREFIX=str(prefix), WINEARCH=arch.winearch, LANG="C.UTF-8",
               WINELOADER=str(arch.loader), WINESERVER=str(WINESERVER),
               WINEDLLOVERRIDES=DLL_OVERRIDES, WINEDEBUG="-all")
    return env


# Registry settings of every prefix: no crash dialog; windows that no window
# manager handles (Wine would otherwise wait 2 s for a missing window manager
# each time a box closes); and relay tracing, when asked for, of MessageBoxW
# only, which gives each box's style.
_TEMPLATE_REG = r"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Debug]
"RelayInclude"="user32.MessageBoxW"
"""


def _locked(lock_path: Path):
    lock = open(lock_path, "w")
    fcntl.flock(lock, fcntl.LOCK_EX)
    return lock


def template(arch: Arch = None, cache=None) -> Path:
    """The template prefix of arch, made on first use.

    Test processes that ask at the same time wait for one of them to make it.
    """
    arch = arch or default_arch()
    root = cache_dir(cache)
    # The name changes with Wine's version and the prefix settings, so that a
    # cache never serves a template made another way.
    digest = hashlib.sha256((_TEMPLATE_REG + DLL_OVERRIDES).encode())
    name = "template-%s-%s-%s" % (arch.winearch, re.sub(
        r"[^\w.~-]+", "_", _wine_version()), digest.hexdigest()[:8])
    final = root / name
    if (final / ".complete").exists():
        return final
    with _locked(root / (name + ".lock")):
        if (final / ".complete").exists():
            return final
        # Leftovers of a builder that was killed.
        for stale in [final, *root.glob(name + ".tmp-*")]:
            shutil.rmtree(stale, ignore_errors=True)
        started = time.monotonic()
        work = Path(tempfile.mkdtemp(prefix=name + ".tmp-", dir=root))
        env = _base_env(arch, work / "pfx")
        env.pop("DISPLAY", None)
        _checked([str(arch.loader), "wineboot.exe", "-i"], env, 300, "wineboot")
        reg_file = work / "settings.reg"
        reg_file.write_text(_TEMPLATE_REG)
        _checked([str(arch.loader), "regedit.exe", "/S",
                  "Z:" + str(reg_file).replace("/", "\\")], env, 120, "regedit")
        _checked([str(WINESERVER), "-w"], env, 120, "wineserver -w")
        _own_user_folders(work / "pfx")
        (work / "pfx" / ".complete").write_text(arch.name + "\n")
        os.rename(work / "pfx", final)
        shutil.rmtree(work)
        _log("template", final, "made in %.1f s" % (time.monotonic() - started))
    return final


def _checked(cmd, env, timeout, what):
    try:
        out = subprocess.run(cmd, env=env, capture_output=True, timeout=timeout,
                             stdin=subprocess.DEVNULL)
    except subprocess.TimeoutExpired:
        subprocess.run([str(WINESERVER), "-k"], env=env, timeout=30)
        raise WineError("%s did not finish in %d s" % (what, timeout))
    if out.returncode != 0:
        raise WineError("%s failed (%d): %s" % (
            what, out.returncode,
            out.stderr.decode("utf-8", "replace")[-2000:]))


def _own_user_folders(prefix: Path):
    """Makes the user's Desktop, Documents etc. real folders of the prefix.

    Wine links them to the Unix home directory, which every prefix would
    share and which a test must not write to.
    """
    for link in (prefix / "drive_c" / "users").rglob("*"):
        if link.is_symlink() and Path(os.readlink(link)).is_absolute():
            link.unlink()
            link.mkdir()


def _clone(src: Path, dst: Path):
    """Copies a prefix: hard links, except the registry hives, which change."""
    for dirpath, dirnames, filenames in os.walk(src):
        rel = Path(dirpath).relative_to(src)
        target = dst / rel
        target.mkdir(exist_ok=True)
        for name in dirnames + filenames:
            s, d = Path(dirpath, name), target / name
            if s.is_symlink():
                os.symlink(os.readlink(s), d)
            elif name in dirnames:
                continue
            elif name.endswith(".reg"):
                shutil.copy2(s, d)
            else:
                os.link(s, d)
        dirnames[:] = [n for n in dirnames if not Path(dirpath, n).is_symlink()]


class Prefix:
    """A fresh Wine prefix for one scenario, copied from the template."""

    def __init__(self, arch: Arch = None, cache=None, keep=False):
        self.arch = arch or default_arch()
        started = time.monotonic()
        self.template = template(self.arch, cache)
        runs = cache_dir(cache) / "prefixes"
        runs.mkdir(exist_ok=True)
        self.root = Path(tempfile.mkdtemp(prefix="pfx-", dir=runs))
        self.path = self.root / "pfx"
        self.created = time.time()
        _clone(self.template, self.path)
        (self.path / ".complete").unlink()
        self.keep = keep
        self.runs = 0
        self._x = None
        _log("prefix", self.path, "copied in %.2f s" % (time.monotonic() -
                                                         started))

    # -- lifetime

    def __enter__(self):
        return self

    def __exit__(self, kind, value, tb):
        self.close(failed=kind is not None)
        return False

    def close(self, failed=False):
        """Stops the prefix's processes; deletes it unless failed or kept."""
        self.kill()
        if self._x:
            self._x.disconnect()
            self._x = None
        changed = self._template_changes()
        if changed:
            # A program wrote into a file shared with the template: the
            # template is no longer clean, so the next test makes a new one.
            trash = self.template.with_name(self.template.name + ".bad-%d" %
                                            os.getpid())
            try:
                os.rename(self.template, trash)
                shutil.rmtree(trash, ignore_errors=True)
            except OSError:
                pass  # another test discarded it first
            print("winerun: files shared with the template were changed "
                  "in place; template discarded: %s" % changed[:5],
                  file=sys.stderr)
        if failed or self.keep:
            print("winerun: prefix kept for inspection: %s (run-NN.stderr "
                  "and .stdout hold each run's output)" % self.root,
                  file=sys.stderr)
        else:
            shutil.rmtree(self.root, ignore_errors=True)
        if changed and not failed:
            raise WineError("the scenario changed template files in place: %s"
                            % changed[:5])

    def _template_changes(self) -> list:
        changed = []
        for dirpath, _, filenames in os.walk(self.path):
            for name in filenames:
                st = os.lstat(os.path.join(dirpath, name))
                if st.st_nlink > 1 and st.st_mtime > self.created:
                    changed.append(os.path.join(dirpath, name))
        return changed

    def env(self, extra=None, debug="-all") -> dict:
        """The environment of a program run in this prefix.

        Every program gets the display: the first one of a wineserver session
        starts Wine's desktop process, and without a display no later
        program of that session can show a window.
        """
        env = _base_env(self.arch, self.path)
        env["DISPLAY"] = display()
        env["WINEDEBUG"] = debug
        env.update(extra or {})
        return env

    def kill(self):
        """Ends every process of the prefix (wineserver -k)."""
        subprocess.run([str(WINESERVER), "-k"],
                       env=_base_env(self.arch, self.path),
                       capture_output=True, timeout=30)

    def wait(self, timeout=60):
        """Waits until the prefix's wineserver has ended (wineserver -w)."""
        try:
            subprocess.run([str(WINESERVER), "-w"],
                           env=_base_env(self.arch, self.path),
                           capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise WineTimeout("wineserver -w did not return in %d s; the "
                              "prefix was killed: %s" % (timeout, self.path))

    # -- paths

    def unix_path(self, win_path) -> Path:
        """The Unix path of a Windows path in this prefix (any drive).

        Each part is matched without regard to case, as Windows does, when
        the exact name does not exist.
        """
        win = PureWindowsPath(win_path)
        if not win.drive or len(win.drive) != 2:
            raise ValueError("not an absolute Windows path: %s" % win_path)
        path = (self.path / "dosdevices" / win.drive.lower()).resolve()
        for part in win.parts[1:]:
            exact = path / part
            if not exact.exists() and path.is_dir():
                same = [p for p in path.iterdir()
                        if p.name.lower() == part.lower()]
                exact = same[0] if same else exact
            path = exact
        return path

    def win_path(self, unix_path) -> str:
        """The Windows path of a Unix path: under C: if in drive_c, else Z:."""
        path = Path(unix_path).absolute()
        drive_c = self.path / "drive_c"
        try:
            rel = path.relative_to(drive_c)
            return str(PureWindowsPath("C:\\", *rel.parts))
        except ValueError:
            return str(PureWindowsPath("Z:\\", *path.parts[1:]))

    def user_dir(self) -> Path:
        """C:\\users\\<user> of the prefix's user as a Unix path.

        Wine names the user after the Unix user who made the prefix.
        """
        users = self.path / "drive_c" / "users"
        names = [p.name for p in users.iterdir() if p.name != "Public"]
        name = names[0] if len(names) == 1 else getpass.getuser()
        return users / name

    def temp_dir(self) -> Path:
        """The prefix user's %TEMP% (C:\\users\\<user>\\Temp) as a Unix path."""
        return self.user_dir() / "Temp"

    def common_files_dir(self) -> Path:
        """CommonProgramFiles (C:\\Program Files\\Common Files) as a Unix path.

        It is the same for a 32-bit program in a 32-bit prefix and a 64-bit
        program in a 64-bit prefix, the two setups that choose() returns.
        """
        return self.path / "drive_c" / "Program Files" / "Common Files"

    # -- running programs

    def msiexec(self, args, **kw) -> Result:
        """Runs Wine's msiexec.exe, e.g. msiexec(["/i", msi, "/qn"])."""
        return self.run("msiexec.exe", args, **kw)

    def reg(self, args, **kw) -> Result:
        """Runs Wine's reg.exe, e.g. reg(["query", r"HKLM\\Software\\X"])."""
        return self.run("reg.exe", args, **kw)

    def run(self, exe, args=(), cwd=None, env=None, timeout=60, answer=True,
            shots_dir=None, debug=None) -> Result:
        """Runs a program until it exits, answering its message boxes.

        exe is a Unix path of an .exe or a program name Wine knows
        ("msiexec.exe"); cwd a Unix directory, the program's current
        directory; env variables added to Wine's environment.  debug adds
        Wine debug channels ("+msi"); +msgbox and +relay are always on.

        answer is True (press Return on each box), the X key name of another
        key ("Escape"), or False: then the run stops at the first box, kills
        the prefix's processes and returns with exit_code None.  shots_dir,
        if given, gets a screenshot of each box before it is answered
        (box-01.png, ... in the order shown).

        Raises WineTimeout after timeout seconds, and WineError when a box's
        trace line and its window do not come together within BOX_WAIT.
        """
        channels = "+msgbox,+relay" + ("," + debug if debug else "")
        disp = display()
        if self._x is None or self._x.name != disp:
            self._x = _X(disp)
        self.runs += 1
        logs = self.root / ("run-%02d" % self.runs)
        program = str(exe)
        if os.path.exists(program):
            program = str(Path(program).resolve())
        cmd = [str(self.arch.loader), program, *map(str, args)]
        key = "Return" if answer is True else answer
        if key is not False:
            _X.keysym(key)  # fails here on an unknown key name
        if shots_dir:
            Path(shots_dir).mkdir(parents=True, exist_ok=True)

        seen = set(_windows(disp))
        boxes = []
        trace = _Trace(Path(str(logs) + ".stderr"))
        started = time.monotonic()
        deadline = started + timeout
        _log("run", cmd)
        with open(trace.path, "wb") as err, \
                open(str(logs) + ".stdout", "wb") as out:
            proc = subprocess.Popen(cmd, cwd=cwd, env=self.env(env, channels),
                                    stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=err, start_new_session=True)
        unmatched_since = None  # a trace line without window, or vice versa
        exit_code = None
        try:
            while True:
                if time.monotonic() > deadline:
                    raise WineTimeout(
                        "%s did not end within %s s; the prefix's wineserver "
                        "was killed. Boxes so far: %r. Debug output: %s" %
                        (exe, timeout, boxes, trace.path), boxes)
                exited = proc.poll() is not None
                trace.poll()
                new = [w for w in _windows(disp) if w not in seen]
                due = len(trace.boxes) > len(boxes)
                if due and new:
                    unmatched_since = None
                    window = new[0]
                    seen.add(window)
                    box = self._take_box(disp, window, trace.boxes[len(boxes)],
                                         len(boxes) + 1, shots_dir)
                    boxes.append(box)
                    _log("box", box)
                    if answer is False:
                        self.kill()
                        proc.wait(30)
                        break
                    self._answer(window, key, deadline)
                    continue
                if exited:
                    if due:
                        raise WineError(
                            "message box %r was traced but the program ended "
                            "before its window showed" %
                            (trace.boxes[len(boxes)][0],))
                    exit_code = proc.wait()
                    break
                if due or new:
                    unmatched_since = unmatched_since or time.monotonic()
                    if time.monotonic() - unmatched_since > BOX_WAIT:
                        if due:
                            raise WineError(
                                "message box %r was traced but no window "
                                "showed within %s s" %
                                (trace.boxes[len(boxes)][0], BOX_WAIT))
                        raise WineError(
                            "a window %r showed without a message box trace "
                            "line within %s s" % (_xdotool(
                                disp, "getwindowname", new[0]).strip(),
                                                    BOX_WAIT))
                else:
                    unmatched_since = None
                time.sleep(POLL)
        except BaseException:
            self.kill()
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
            raise
        trace.poll()
        result = Result(
            exit_code=exit_code, boxes=boxes,
            stdout=Path(str(logs) + ".stdout").read_bytes().decode(
                "utf-8", "replace"),
            stderr=trace.path.read_bytes().decode("utf-8", "replace"),
            elapsed=time.monotonic() - started)
        _log("exit", exit_code, "after %.2f s" % result.elapsed)
        return result

    def _take_box(self, disp, window, traced, number, shots_dir) -> Box:
        text, complete, flags = traced
        caption = _xdotool(disp, "getwindowname", window)
        caption = caption[:-1] if caption.endswith("\n") else caption
        if not complete:
            text = self._full_text(window, text)
        shot = None
        if shots_dir:
            time.sleep(0.3)  # let Wine paint the box
            shot = Path(shots_dir) / ("box-%02d.png" % number)
            subprocess.run(["import", "-display", disp, "-window", "root",
                            str(shot)], capture_output=True, timeout=30)
        return Box(caption, text, flags, shot)

    def _full_text(self, window, start) -> str:
        """The whole text of a box whose trace line Wine cut short."""
        helper = _boxtext_exe(self.arch, self.template.parent)
        out = subprocess.run([str(self.arch.loader), str(helper)],
                             env=self.env(), capture_output=True, timeout=30)
        texts = []
        for line in out.stdout.decode("utf-8", "replace").splitlines():
            parts = line.split("\t")
            if len(parts) == 3:
                texts.append(re.sub(r"\\(.)", lambda m: {
                    "n": "\n", "r": "\r", "t": "\t"}.get(m[1], m[1]), parts[2]))
        texts = [t for t in texts if t.startswith(start)]
        if len(texts) != 1:
            raise WineError("cannot read the whole text of box %r (window %s):"
                            " %d candidates" % (start, window, len(texts)))
        return texts[0]

    def _answer(self, window, key, deadline):
        """Sends the key to the box until it goes, then closes it as a fallback.

        A key that reaches a box before Wine has made it the foreground window
        is lost, so it is sent again when the box is still there.
        """
        wid = int(window)
        for attempt in range(4):
            if attempt < 3:
                self._x.key(wid, key)
            else:
                _log("closing window", window)
                self._x.close(wid)
            until = min(deadline, time.monotonic() + 2.0 + attempt)
            while time.monotonic() < until:
                if window not in _windows(self._x.name):
                    return
                time.sleep(POLL)
            if time.monotonic() >= deadline:
                return  # the main loop reports the timeout
        raise WineError("message box window %s did not close" % window)


@functools.cache
def _boxtext_exe(arch: Arch, root: Path) -> Path:
    """The helper that reads message boxes, built for arch once per cache."""
    source = BOXTEXT_SOURCE.read_bytes()
    digest = hashlib.sha256(source + arch.cc.encode()).hexdigest()[:16]
    exe = root / ("boxtext-%s-%s.exe" % (arch.name, digest))
    if exe.exists():
        return exe
    with _locked(root / "boxtext.lock"):
        if not exe.exists():
            tmp = exe.with_suffix(".tmp%d" % os.getpid())
            subprocess.run(
                [arch.cc, "-O2", "-o", str(tmp), str(BOXTEXT_SOURCE)],
                check=True, capture_output=True, timeout=120)
            os.rename(tmp, exe)
    return exe

