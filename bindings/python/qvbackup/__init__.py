"""Backups from Python: the backup engine's C interface through ctypes.

    import qvbackup
    result = qvbackup.backup(["/home/ann/Documents"], to="/mnt/backup", name="docs")
    for item in qvbackup.list(result.archive):
        print(item["path"], item["size"])
    qvbackup.restore(result.archive, to="/tmp/back", patterns=["letter.txt"])
    qvbackup.verify(result.archive)

Every failure raises QvbackupError, which carries the error number
(`errno`), its text (`text`) and the run's own message (`message`). The
library is looked for beside this package, then where the environment
variable QVBACKUP_LIBRARY points (the library file itself), then in the
installed prefix's library folder, then on the system's library path.
"""

import ctypes
import ctypes.util
import json
import os
import sys

__all__ = ["QvbackupError", "BackupResult", "version", "backup", "list", "restore", "verify", "members"]

_LIBRARY_NAMES = (["QVBackupEngine.dll"] if sys.platform == "win32"
                  else ["libQVBackupEngine.so.0", "libQVBackupEngine.so", "libQVBackupEngine.dylib"])

# Event kinds, as qvbackup.h numbers them.
_PROGRESS, _MESSAGE, _ITEM, _NOT_SAVED, _CHANGED, _NOT_RESTORED, _DAMAGED, _MEMBER = 1, 2, 3, 4, 5, 6, 7, 8
_OVERWRITE = {"never": 0, "older": 1, "always": 2}


class QvbackupError(Exception):
    """A run that failed: `errno` the error number, `text` its meaning,
    `message` what the run said of it, `details` the run's findings (the
    items not saved or restored, the damage found) and `answer` its whole
    answer."""

    def __init__(self, errno, text, message="", details=None, answer=None):
        super().__init__("%s (error %d)" % (message or text, errno))
        self.errno = errno
        self.text = text
        self.message = message
        self.details = details or []
        self.answer = answer or {}


class BackupResult:
    """What a backup wrote: `files`, `bytes`, `archive` (its first volume
    file), `increment` (0: a base archive), `volumes`, `changed` (files
    saved as read while they changed) and the whole `answer`."""

    def __init__(self, answer, changed):
        self.answer = answer
        self.files = answer.get("files", 0)
        self.bytes = answer.get("bytes", 0)
        self.archive = answer.get("archive")
        self.increment = answer.get("increment", 0)
        self.volumes = answer.get("volumes", 0)
        self.changed = changed

    def __repr__(self):
        return "BackupResult(files=%d, bytes=%d, archive=%r)" % (self.files, self.bytes, self.archive)


class _Event(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int), ("percent", ctypes.c_int), ("path", ctypes.c_char_p),
                ("text", ctypes.c_char_p), ("size", ctypes.c_uint64), ("mtime", ctypes.c_int64),
                ("attributes", ctypes.c_ulong), ("member", ctypes.c_ulong), ("count", ctypes.c_uint64)]


class _BackupOptions(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t), ("to", ctypes.c_char_p), ("name", ctypes.c_char_p),
                ("incremental", ctypes.c_int), ("replace", ctypes.c_int), ("self_extracting", ctypes.c_int),
                ("sfx_stub", ctypes.c_char_p), ("volume_size", ctypes.c_uint64), ("block_size", ctypes.c_ulong),
                ("compress", ctypes.c_int), ("key_bits", ctypes.c_int), ("allow_weak_key", ctypes.c_int),
                ("threads", ctypes.c_int)]


class _ReadOptions(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t), ("patterns", ctypes.POINTER(ctypes.c_char_p)),
                ("pattern_count", ctypes.c_size_t), ("as_of", ctypes.c_long), ("increment", ctypes.c_long),
                ("overwrite", ctypes.c_int), ("original", ctypes.c_int)]


_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(_Event))


def _candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _LIBRARY_NAMES:
        yield os.path.join(here, name)
    if os.environ.get("QVBACKUP_LIBRARY"):
        yield os.environ["QVBACKUP_LIBRARY"]
    # Installed: PREFIX/lib/python3/site-packages/qvbackup, the library in
    # PREFIX/lib (PREFIX/bin on Windows).
    prefix = os.path.normpath(os.path.join(here, "..", "..", "..", ".."))
    for folder in ("lib", "bin"):
        for name in _LIBRARY_NAMES:
            yield os.path.join(prefix, folder, name)
    for name in _LIBRARY_NAMES:
        yield name  # the system's library path
    found = ctypes.util.find_library("QVBackupEngine")
    if found:
        yield found


def _load():
    tried = []
    for candidate in _candidates():
        if os.path.isabs(candidate) and not os.path.exists(candidate):
            continue
        try:
            return ctypes.CDLL(candidate)
        except OSError as error:
            tried.append("%s (%s)" % (candidate, error))
    raise ImportError("qvbackup: the backup engine library was not found; set QVBACKUP_LIBRARY to it. Tried: " +
                      "; ".join(tried or ["nothing"]))


_lib = _load()


def _declare(name, result, *arguments):
    function = getattr(_lib, name)
    function.restype = result
    function.argtypes = list(arguments)
    return function


_p = ctypes.c_void_p
_version = _declare("qvb_version", ctypes.c_char_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int),
                    ctypes.POINTER(ctypes.c_int))
_error_text = _declare("qvb_error_text", ctypes.c_size_t, ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t)
_session_new = _declare("qvb_session_new", _p)
_session_free = _declare("qvb_session_free", None, _p)
_session_set_callback = _declare("qvb_session_set_callback", None, _p, _CALLBACK, _p)
_cancel = _declare("qvb_cancel", None, _p)
_session_set_password = _declare("qvb_session_set_password", ctypes.c_int, _p, ctypes.c_char_p)
_session_message = _declare("qvb_session_message", ctypes.c_size_t, _p, ctypes.c_char_p, ctypes.c_size_t)
_session_answer = _declare("qvb_session_answer", ctypes.c_size_t, _p, ctypes.c_char_p, ctypes.c_size_t)
_selection_new = _declare("qvb_selection_new", _p)
_selection_free = _declare("qvb_selection_free", None, _p)
_selection_add_source = _declare("qvb_selection_add_source", ctypes.c_int, _p, ctypes.c_char_p)
_selection_exclude = _declare("qvb_selection_exclude", ctypes.c_int, _p, ctypes.c_int, ctypes.c_char_p)
_options_init = _declare("qvb_options_init", None, ctypes.POINTER(_BackupOptions))
_read_options_init = _declare("qvb_read_options_init", None, ctypes.POINTER(_ReadOptions))
_backup = _declare("qvb_backup", ctypes.c_int, _p, _p, ctypes.POINTER(_BackupOptions))
_list = _declare("qvb_list", ctypes.c_int, _p, ctypes.c_char_p, ctypes.POINTER(_ReadOptions))
_restore = _declare("qvb_restore", ctypes.c_int, _p, ctypes.c_char_p, ctypes.c_char_p, ctypes.POINTER(_ReadOptions))
_verify = _declare("qvb_verify", ctypes.c_int, _p, ctypes.c_char_p)
_members = _declare("qvb_members", ctypes.c_int, _p, ctypes.c_char_p)


def _bytes(text):
    if isinstance(text, bytes):
        return text
    return os.fsencode(text) if sys.platform != "win32" else os.fspath(text).encode("utf-8")


def _text(raw):
    return raw.decode("utf-8", "surrogateescape") if raw else ""


def _read(function, handle):
    size = function(handle, None, 0) + 1
    buffer = ctypes.create_string_buffer(size)
    function(handle, buffer, size)
    return _text(buffer.value)


def version():
    """The library's version, "MAJOR.MINOR.PATCH"."""
    return _text(_version(None, None, None))


def error_text(errno):
    """The text of an error number."""
    size = _error_text(errno, None, 0) + 1
    buffer = ctypes.create_string_buffer(size)
    _error_text(errno, buffer, size)
    return _text(buffer.value)


class _Session:
    """One run's session: its callback gathers the events. An exception
    the progress callable raises (KeyboardInterrupt included) cancels the
    run and is raised once the run has stopped."""

    def __init__(self, password=None, progress=None):
        self.handle = _session_new()
        if not self.handle:
            raise MemoryError("qvbackup: no session")
        self.progress = progress
        self.events = []
        self.error = None  # an exception the progress callable raised
        self._callback = _CALLBACK(self._on_event)  # kept alive while the session lives
        _session_set_callback(self.handle, self._callback, None)
        if password is not None:
            _session_set_password(self.handle, password.encode("utf-8"))

    def _on_event(self, _user, pointer):
        event = pointer.contents
        if event.kind == _PROGRESS:
            if self.progress is not None and self.error is None:
                try:
                    self.progress(event.percent)
                except BaseException as error:  # noqa: B902 - Ctrl-C too: the run stops, then it is raised
                    self.error = error
                    _cancel(self.handle)
            return
        self.events.append({"kind": event.kind, "path": _text(event.path), "text": _text(event.text),
                            "size": event.size, "mtime": event.mtime, "attributes": event.attributes,
                            "member": event.member, "count": event.count})

    def of(self, kind):
        return [event for event in self.events if event["kind"] == kind]

    def answer(self):
        text = _read(_session_answer, self.handle)
        try:
            return json.loads(text) if text else {}
        except ValueError:
            return {}

    def check(self, errno, details_kind=None):
        if self.error is not None:
            raise self.error
        if errno != 0:
            details = [{"path": e["path"], "reason": e["text"]} for e in self.of(details_kind)] if details_kind else []
            raise QvbackupError(errno, error_text(errno), _read(_session_message, self.handle), details,
                                self.answer())

    def close(self):
        if self.handle:
            _session_free(self.handle)
            self.handle = None

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()


def _read_options(patterns, as_of, overwrite="never"):
    options = _ReadOptions()
    _read_options_init(ctypes.byref(options))
    keep = None
    if patterns:
        if isinstance(patterns, (str, bytes)):
            patterns = [patterns]
        keep = (ctypes.c_char_p * len(patterns))(*[_bytes(p) for p in patterns])
        options.patterns = ctypes.cast(keep, ctypes.POINTER(ctypes.c_char_p))
        options.pattern_count = len(patterns)
    if as_of is not None:
        options.as_of = int(as_of)
    if overwrite not in _OVERWRITE:
        raise ValueError("overwrite: one of never, older, always, not %r" % (overwrite,))
    options.overwrite = _OVERWRITE[overwrite]
    return options, keep


def backup(sources, to, name, password=None, incremental=False, volume_size=None, threads=None, progress=None,
           exclude=None, replace=False):
    """Saves the folders and files `sources` into the archive `name` in the
    folder `to`; `incremental` adds the next increment of its chain,
    `replace` makes a full backup in its place. `progress(percent)` is
    called as the work goes on. Returns a BackupResult."""
    if isinstance(sources, (str, bytes, os.PathLike)):
        sources = [sources]
    selection = _selection_new()
    try:
        for source in sources:
            if _selection_add_source(selection, _bytes(source)) != 0:
                raise ValueError("sources: %r is no path" % (source,))
        for pattern in exclude or []:
            if _selection_exclude(selection, 0, _bytes(pattern)) != 0:
                raise ValueError("exclude: %r is no pattern" % (pattern,))
        options = _BackupOptions()
        _options_init(ctypes.byref(options))
        to_bytes, name_bytes = _bytes(to), name.encode("utf-8")
        options.to, options.name = to_bytes, name_bytes
        options.incremental = 1 if incremental else 0
        options.replace = 1 if replace else 0
        if volume_size is not None:
            options.volume_size = int(volume_size)
        if threads is not None:
            options.threads = int(threads)
        with _Session(password, progress) as session:
            errno = _backup(session.handle, selection, ctypes.byref(options))
            session.check(errno, _NOT_SAVED)
            return BackupResult(session.answer(), [e["path"] for e in session.of(_CHANGED)])
    finally:
        _selection_free(selection)


def list(archive, password=None, patterns=None, as_of=None):  # noqa: A001 - the command's own name
    """The items of the archive's chain (as of member `as_of`, else its
    newest state) that `patterns` select: dicts with path, size, mtime
    (seconds since 1970, UTC), attributes and member."""
    options, _keep = _read_options(patterns, as_of)
    with _Session(password) as session:
        session.check(_list(session.handle, _bytes(archive), ctypes.byref(options)))
        return [{"path": e["path"], "size": e["size"], "mtime": e["mtime"], "attributes": e["attributes"],
                 "member": e["member"]} for e in session.of(_ITEM)]


def restore(archive, to, patterns=None, password=None, as_of=None, overwrite="never", progress=None):
    """Restores what list() would give below the folder `to`. Returns the
    run's answer (files, folders, links, bytes, left_alone...); items that
    could not be written raise QvbackupError with them in `details`."""
    options, _keep = _read_options(patterns, as_of, overwrite)
    with _Session(password, progress) as session:
        errno = _restore(session.handle, _bytes(archive), _bytes(to), ctypes.byref(options))
        session.check(errno, _NOT_RESTORED)
        return session.answer()


def verify(archive, password=None, progress=None):
    """Reads and checks every block; returns the answer (members, volumes,
    blocks, files). Damage raises QvbackupError with each finding in
    `details`."""
    with _Session(password, progress) as session:
        session.check(_verify(session.handle, _bytes(archive)), _DAMAGED)
        return session.answer()


def members(archive, password=None):
    """The chain's members, the base first: dicts with number, mtime,
    items, bytes and state."""
    with _Session(password) as session:
        session.check(_members(session.handle, _bytes(archive)))
        return [{"number": e["member"], "mtime": e["mtime"], "items": e["count"], "bytes": e["size"],
                 "state": e["text"]} for e in session.of(_MEMBER)]
