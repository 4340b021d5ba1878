"""Remotes, their buttons, the code files people have, and the library of
remotes (a folder), over KOBLIB_CODES.

    tv = koblib.Remote.load("tv.ir")          # Flipper, irdb, lircd.conf, ...
    tv["POWER"].ccf                           # the CCF text the button sends
    tv.save("tv.conf")                        # the format from the extension

    library = koblib.Library()                # $KOB_LIBRARY, else the default
    library.put(tv)
    library.put("tv", koblib.Button.of_protocol("MUTE", "nec", 4, 9))
    with koblib.open() as kob:
        kob.send(library["tv"]["POWER"])

Errors: ValueError for a file, name or code that is not what it should
be (the message says where), KeyError for a remote or button that is not
there, FileExistsError for one that is already, OSError when a file or
folder cannot be read or written; KoblibError when no library folder
can be found.
"""

from __future__ import annotations

import ctypes
import os
from dataclasses import dataclass
from typing import Dict, Iterator, List, Optional, Sequence, Tuple, Union

from . import _native
from .errors import KoblibError
from .protocols import Timings, _from_code, _to_code

_E_SPACE = -6
_E_EXISTS = -14
_E_NOT_FOUND = -15
_E_IO = -16
_E_MEMORY = -17

FORMATS = ("flipper", "irdb", "lirc", "pronto", "broadlink", "gc", "json")


def _dll() -> ctypes.CDLL:
    return _native.load_codes()


def _raise(result: int, message: Union[str, "ctypes.Array[ctypes.c_char]"] = "") -> None:
    if result == 0:
        return
    text = message if isinstance(message, str) else _native.decode(message.value)
    text = text or _native.decode(_dll().kobc_error_text(result))
    if result == _E_NOT_FOUND:
        raise KeyError(text)
    if result == _E_EXISTS:
        raise FileExistsError(text)
    if result == _E_IO:
        raise OSError(text)
    if result == _E_MEMORY:
        raise MemoryError(text)
    raise ValueError(text)


def _message() -> "ctypes.Array[ctypes.c_char]":
    return ctypes.create_string_buffer(512)


def _optional(value: Optional[int]) -> int:
    return _native.KOBC_NONE if value is None else value


def _field(value: int) -> Optional[int]:
    return None if value == _native.KOBC_NONE else value


@dataclass(frozen=True)
class Button:
    """A named button: a protocol code (protocol, device, subdevice,
    function, toggle; subdevice and toggle None where the protocol has none
    or takes its default) or raw timings (``timings``, with the carrier's
    duty cycle when known)."""

    name: str
    protocol: Optional[str] = None
    device: Optional[int] = None
    function: Optional[int] = None
    subdevice: Optional[int] = None
    toggle: Optional[int] = None
    timings: Optional[Timings] = None
    duty_percent: Optional[int] = None

    @classmethod
    def of_protocol(cls, name: str, protocol: str, device: int, function: int,
                    subdevice: Optional[int] = None, toggle: Optional[int] = None) -> "Button":
        return cls(name, protocol, device, function, subdevice, toggle)

    @classmethod
    def of_timings(cls, name: str, timings: Timings,
                   duty_percent: Optional[int] = None) -> "Button":
        return cls(name, timings=timings, duty_percent=duty_percent)

    @property
    def raw(self) -> bool:
        return self.protocol is None

    def _native(self) -> Tuple[_native.KobcButton, object]:
        """The C button and what its pointers point into (kept alive)."""
        b = _native.KobcButton()
        name = _native.encode(self.name)
        b.name = name
        keep: List[object] = [name]
        if self.protocol is not None:
            protocol = _native.encode(self.protocol)
            keep.append(protocol)
            b.kind = _native.KOBC_BUTTON_PROTOCOL
            b.protocol = protocol
            b.device = self.device if self.device is not None else 0
            b.function = self.function if self.function is not None else 0
            b.subdevice = _optional(self.subdevice)
            b.toggle = _optional(self.toggle)
        else:
            if self.timings is None:
                raise ValueError(f"button {self.name!r} has neither a protocol nor timings")
            code = _to_code(self.timings)
            keep.append(code)
            b.kind = _native.KOBC_BUTTON_RAW
            b.raw = ctypes.pointer(code)
            b.duty_percent = self.duty_percent or 0
        return b, keep

    @classmethod
    def _of_native(cls, b: _native.KobcButton) -> "Button":
        name = _native.decode(b.name)
        if b.kind == _native.KOBC_BUTTON_PROTOCOL:
            return cls(name, _native.decode(b.protocol), b.device, b.function,
                       _field(b.subdevice), _field(b.toggle))
        return cls(name, timings=_from_code(b.raw.contents),
                   duty_percent=b.duty_percent or None)

    @property
    def code(self) -> Timings:
        """The timings the button sends (its protocol code encoded)."""
        b, keep = self._native()
        code = _native.KobcCode()
        message = _message()
        _raise(_dll().kobc_button_code(ctypes.byref(b), ctypes.byref(code), message,
                                       len(message)), message)
        del keep
        return _from_code(code)

    @property
    def ccf(self) -> str:
        """The CCF text the button sends, as Session.send takes it."""
        return self.code.ccf


class _Handle:
    """A kobc_remotes, freed with this object."""

    def __init__(self) -> None:
        self.dll = _dll()
        self.ptr = self.dll.kobc_remotes_new()
        if not self.ptr:
            raise MemoryError("out of memory")

    def __del__(self) -> None:
        ptr, self.ptr = getattr(self, "ptr", None), None
        if ptr:
            self.dll.kobc_remotes_free(ptr)

    def remotes(self) -> List["Remote"]:
        dll = self.dll
        found = []
        for r in range(dll.kobc_remotes_count(self.ptr)):
            fields = {f: _native.decode(dll.kobc_remote_field(self.ptr, r, f.encode())) or None
                      for f in ("brand", "model", "notes")}
            buttons = []
            for k in range(dll.kobc_remote_button_count(self.ptr, r)):
                b = _native.KobcButton()
                _raise(dll.kobc_remote_button(self.ptr, r, k, ctypes.byref(b)))
                buttons.append(Button._of_native(b))
            found.append(Remote(_native.decode(dll.kobc_remote_name(self.ptr, r)), buttons,
                                **fields))
        return found

    def add(self, remote: "Remote") -> int:
        dll = self.dll
        index = ctypes.c_size_t()
        message = _message()
        _raise(dll.kobc_remotes_add(self.ptr, _native.encode(remote.name), ctypes.byref(index),
                                    message, len(message)), message)
        for field in ("brand", "model", "notes"):
            value = getattr(remote, field)
            if value:
                _raise(dll.kobc_remote_set_field(self.ptr, index.value, field.encode(),
                                                 _native.encode(value)))
        for button in remote:
            b, keep = button._native()
            _raise(dll.kobc_remote_put_button(self.ptr, index.value, ctypes.byref(b), 0, message,
                                              len(message)), message)
            del keep
        return index.value

    def write(self, remote: int, format: int) -> str:
        needed = ctypes.c_size_t()
        message = _message()
        result = self.dll.kobc_remotes_write(self.ptr, remote, format, None, 0,
                                             ctypes.byref(needed), message, len(message))
        if result != _E_SPACE:
            _raise(result, message)
        text = ctypes.create_string_buffer(needed.value)
        _raise(self.dll.kobc_remotes_write(self.ptr, remote, format, text, len(text),
                                           ctypes.byref(needed), message, len(message)), message)
        return _native.decode(text.value)


def _format(format: Optional[str], path: Optional[str] = None, text: bytes = b"") -> int:
    """The format id of a name, else guessed from the file name and text."""
    dll = _dll()
    if format is not None:
        found = dll.kobc_format_find(_native.encode(format))
        if found == 0:
            raise ValueError(f"unknown format {format!r} (one of {', '.join(FORMATS)})")
        return found
    found = dll.kobc_format_guess(None if path is None else _native.encode(path), text, len(text))
    if found == 0:
        raise ValueError(f"cannot tell the format of {path or 'the text'}: give format=")
    return found


class Remote:
    """A remote: a name and its buttons, in order, found by name
    (``remote["POWER"]``). Brand, model and notes are optional."""

    def __init__(self, name: str, buttons: Sequence[Button] = (), brand: Optional[str] = None,
                 model: Optional[str] = None, notes: Optional[str] = None) -> None:
        self.name = name
        self.brand = brand
        self.model = model
        self.notes = notes
        self._buttons: Dict[str, Button] = {}
        for button in buttons:
            self.add(button)

    def __repr__(self) -> str:
        return f"Remote({self.name!r}, {len(self)} buttons)"

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Remote) and (self.name, self.brand, self.model, self.notes,
                                              self.buttons) == \
            (other.name, other.brand, other.model, other.notes, other.buttons)

    def __getitem__(self, name: str) -> Button:
        try:
            return self._buttons[name]
        except KeyError:
            raise KeyError(f"remote {self.name!r} has no button {name!r}") from None

    def __contains__(self, name: object) -> bool:
        return name in self._buttons

    def __iter__(self) -> Iterator[Button]:
        return iter(self._buttons.values())

    def __len__(self) -> int:
        return len(self._buttons)

    @property
    def buttons(self) -> List[Button]:
        return list(self._buttons.values())

    def add(self, button: Button, replace: bool = False) -> None:
        """Adds a button (FileExistsError for a name taken, unless replace)."""
        if button.name in self._buttons and not replace:
            raise FileExistsError(f"remote {self.name!r} has a button {button.name!r} already")
        self._buttons[button.name] = button

    def remove(self, name: str) -> None:
        self[name]
        del self._buttons[name]

    # ---- code files -----------------------------------------------------

    @staticmethod
    def loads_all(text: Union[str, bytes], format: Optional[str] = None,
                  file_name: Optional[str] = None) -> List["Remote"]:
        """Every remote of a code file's text (format None: guessed from
        file_name and the text). ValueError "FILE:LINE: ..." for a bad file."""
        data = text if isinstance(text, bytes) else _native.encode(text)
        handle = _Handle()
        message = _message()
        _raise(handle.dll.kobc_remotes_read(
            handle.ptr, _format(format, file_name, data), data, len(data),
            None if file_name is None else _native.encode(file_name), message, len(message)),
            message)
        return handle.remotes()

    @staticmethod
    def load_all(path: Union[str, "os.PathLike[str]"],
                 format: Optional[str] = None) -> List["Remote"]:
        """Every remote of a code file."""
        path = os.fspath(path)
        with open(path, "rb") as f:
            data = f.read()
        return Remote.loads_all(data, format, path)

    @classmethod
    def load(cls, path: Union[str, "os.PathLike[str]"], format: Optional[str] = None,
             name: Optional[str] = None) -> "Remote":
        """The remote of a code file (the one called name where it holds
        several; ValueError when it holds several and name is None)."""
        return cls._one(cls.load_all(path, format), os.fspath(path), name)

    @classmethod
    def loads(cls, text: Union[str, bytes], format: Optional[str] = None,
              file_name: Optional[str] = None, name: Optional[str] = None) -> "Remote":
        return cls._one(cls.loads_all(text, format, file_name), file_name or "the text", name)

    @staticmethod
    def _one(remotes: List["Remote"], where: str, name: Optional[str]) -> "Remote":
        if name is not None:
            for remote in remotes:
                if remote.name == name:
                    return remote
            raise KeyError(f"no remote {name!r} in {where}")
        if len(remotes) != 1:
            raise ValueError(f"{where} holds {len(remotes)} remotes: name the one to load")
        return remotes[0]

    def dumps(self, format: str = "flipper") -> str:
        """The remote as a code file's text. ValueError naming the button
        when the format cannot hold one of its codes."""
        handle = _Handle()
        return handle.write(handle.add(self), _format(format))

    def save(self, path: Union[str, "os.PathLike[str]"], format: Optional[str] = None) -> None:
        """Writes the remote as a code file (format None: from the file
        name's extension), replacing the file in one step."""
        path = os.fspath(path)
        if format is None:
            found = _dll().kobc_format_guess(_native.encode(path), b"", 0)
            if found == 0:
                raise ValueError(f"cannot tell a format from the name {path!r}: give format=")
            format = _native.decode(_dll().kobc_format_name(found))
        text = self.dumps(format)
        temp = f"{path}.new-{os.getpid()}"
        try:
            with open(temp, "w", encoding="utf-8", newline="") as f:
                f.write(text)
            os.replace(temp, path)
        finally:
            if os.path.exists(temp):
                os.remove(temp)


class Library:
    """The library of remotes: a folder of Flipper .ir files, one per
    remote. Every change reads the remote's file afresh under a lock on the
    folder, so several programs may change it at once. A file that cannot
    be read is left out (and in ``problems``), never rewritten."""

    def __init__(self, path: Union[str, "os.PathLike[str]", None] = None) -> None:
        if path is None:
            buffer = ctypes.create_string_buffer(4096)
            result = _dll().kobc_library_default_dir(buffer, len(buffer))
            if result == _E_NOT_FOUND:
                raise KoblibError("no library folder: give a path or set KOB_LIBRARY")
            _raise(result)
            path = _native.decode(buffer.value)
        self.path = os.fspath(path)
        self.problems: List[Tuple[str, str]] = []

    def __repr__(self) -> str:
        return f"Library({self.path!r})"

    def remotes(self) -> List[Remote]:
        """Every remote that can be read; ``problems`` then holds (file,
        message) of each file that cannot."""
        handle = _Handle()
        problems: List[Tuple[str, str]] = []

        def problem(_context: object, file: bytes, message: bytes) -> None:
            problems.append((_native.decode(file), _native.decode(message)))

        callback = _native.LIBRARY_PROBLEM_FN(problem)
        message = _message()
        _raise(handle.dll.kobc_library_load(_native.encode(self.path), handle.ptr, callback, None,
                                            message, len(message)), message)
        self.problems = problems
        return handle.remotes()

    def list(self) -> List[str]:
        """The names of the remotes (that can be read)."""
        return [remote.name for remote in self.remotes()]

    def get(self, name: str) -> Remote:
        """A remote; KeyError when there is none, ValueError when its file
        cannot be read."""
        for remote in self.remotes():
            if remote.name == name:
                return remote
        for file, message in self.problems:
            if os.path.basename(file) == name + ".ir":
                raise ValueError(message)
        raise KeyError(f"no remote {name!r} in the library {self.path}")

    __getitem__ = get

    def __contains__(self, name: object) -> bool:
        return name in self.list()

    def put(self, remote: Union[Remote, str], button: Optional[Button] = None,
            replace: bool = False) -> None:
        """Stores a whole remote, or (remote a name, button given) one
        button of a stored remote (made when missing). FileExistsError for
        one of that name, unless replace."""
        message = _message()
        path = _native.encode(self.path)
        if isinstance(remote, Remote):
            if button is not None:
                raise TypeError("put(remote) stores a whole remote; put(name, button) one button")
            handle = _Handle()
            _raise(handle.dll.kobc_library_store(path, handle.ptr, handle.add(remote),
                                                 int(replace), message, len(message)), message)
            return
        if button is None:
            raise TypeError("put(name, button): the button to store is missing")
        b, keep = button._native()
        _raise(_dll().kobc_library_put_button(path, _native.encode(remote), ctypes.byref(b),
                                              int(replace), message, len(message)), message)
        del keep

    def remove(self, remote: str, button: Optional[str] = None) -> None:
        """Removes a remote (its file), or one of its buttons."""
        message = _message()
        _raise(_dll().kobc_library_remove(
            _native.encode(self.path), _native.encode(remote),
            None if button is None else _native.encode(button), message, len(message)), message)

    def rename(self, remote: str, new_name: str, button: Optional[str] = None) -> None:
        """Renames a remote, or (button given) one of its buttons."""
        message = _message()
        _raise(_dll().kobc_library_rename(
            _native.encode(self.path), _native.encode(remote),
            None if button is None else _native.encode(button), _native.encode(new_name),
            message, len(message)), message)
