"""Runs tessera_gis (and tessera_summary) for the algorithms: finds the program, reads its
progress and messages as they come, ends it on cancel and removes what it left half-made."""

import codecs
import fnmatch
import os
import queue
import re
import shutil
import subprocess
import threading

from qgis.core import QgsProcessingException, QgsProcessingFeedback, QgsSettings

# The QgsSettings keys of the programs' paths, shown in Settings > Options > Processing >
# Providers > Tessera (the provider registers them with Processing's configuration).
GIS_SETTING = "TESSERA_GIS"
SUMMARY_SETTING = "TESSERA_SUMMARY"
SETTINGS_PREFIX = "Processing/Configuration/"

# Programs end their message lines with this prefix; a note does not mean failure.
MESSAGE_PREFIX = "tessera_gis: "
NOTE_PREFIXES = ("tessera_gis: note: ", "tessera_gis: warning: ")

_progress_support = {}


def find_program(setting, name, beside=None):
    """The program's path: the QgsSettings value when it names an executable file, then the
    folder of `beside`, then PATH. Raises QgsProcessingException when none holds it."""
    configured = QgsSettings().value(SETTINGS_PREFIX + setting, "", str).strip()
    if configured:
        if os.path.isfile(configured) and os.access(configured, os.X_OK):
            return configured
        raise QgsProcessingException(
            "{}: the {} program set in Settings > Options > Processing > Providers > Tessera "
            "is not an executable file".format(configured, name))
    if beside:
        candidate = os.path.join(os.path.dirname(beside), name)
        if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
            return candidate
    found = shutil.which(name)
    if found:
        return found
    raise QgsProcessingException(
        "{0} was not found: set its path in Settings > Options > Processing > Providers > "
        "Tessera, or put the folder that holds {0} on PATH".format(name))


def tessera_gis():
    return find_program(GIS_SETTING, "tessera_gis")


def tessera_summary(gis_program):
    return find_program(SUMMARY_SETTING, "tessera_summary", beside=gis_program)


def supports_progress(program, command):
    """Whether `program COMMAND --help` offers --progress (builds before it did not)."""
    try:
        stamp = os.stat(program).st_mtime_ns
    except OSError:
        return False
    key = (program, command, stamp)
    if key not in _progress_support:
        try:
            done = subprocess.run([program, command, "--help"], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, timeout=30, check=False,
                                  creationflags=_NO_WINDOW)
            _progress_support[key] = b"--progress" in done.stdout
        except (OSError, subprocess.SubprocessError):
            _progress_support[key] = False
    return _progress_support[key]


class StderrReader:
    """Splits a program's standard error into GDAL's progress text and message lines.

    GDAL's command-line tools print `0...10...20...30...40...50...60...70...80...90...100 -
    done.`: a number every 10 %, a dot every 2.5 %, no line break until the end. A bar
    starts at the start of a line with a digit; anything else up to the line break is a
    message (also after a bar cut short by an error)."""

    _TAIL = re.compile(r"(\d+)(\.*)$")

    def __init__(self, on_progress, on_line):
        self.on_progress = on_progress
        self.on_line = on_line
        self.mode = "start"
        self.bar = ""
        self.best = 0.0
        self.line = []

    def feed(self, text):
        for ch in text:
            if self.mode == "start":
                if ch.isdigit():
                    self.mode, self.bar, self.best = "bar", "", 0.0
                    self._bar(ch)
                elif ch != "\n":
                    self.mode, self.line = "line", [ch]
            elif self.mode == "bar":
                if ch.isdigit() or ch == ".":
                    self._bar(ch)
                elif ch == "\n":
                    self.mode = "start"
                else:
                    self.mode, self.line = "line", [ch]
            else:
                if ch == "\n":
                    self._end_line()
                else:
                    self.line.append(ch)

    def close(self):
        if self.mode == "line":
            self._end_line()
        self.mode = "start"

    def _bar(self, ch):
        self.bar += ch
        tail = self._TAIL.search(self.bar)
        if tail:
            value = min(100.0, int(tail.group(1)) + 2.5 * len(tail.group(2)))
            # "100" arrives as "1", "10", "100": a bar only moves forward.
            if value > self.best:
                self.best = value
                self.on_progress(value)

    def _end_line(self):
        text = "".join(self.line).strip()
        self.mode, self.line = "start", []
        if text and text != "- done.":
            self.on_line(text)


_NO_WINDOW = getattr(subprocess, "CREATE_NO_WINDOW", 0)


class Leftovers:
    """What a stopped program may leave in a folder: the entries that match the patterns
    and were not there when the run started (its staged files, and outputs it moved into
    place before it was stopped); and the folder itself when the run created it."""

    def __init__(self, folder, patterns):
        self.folder = os.path.abspath(folder)
        self.patterns = patterns
        self.existed = os.path.isdir(self.folder)
        self.before = set(os.listdir(self.folder)) if self.existed else set()

    def remove(self):
        if not os.path.isdir(self.folder):
            return
        for name in set(os.listdir(self.folder)) - self.before:
            if not any(fnmatch.fnmatchcase(name, p) for p in self.patterns):
                continue
            path = os.path.join(self.folder, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            else:
                try:
                    os.remove(path)
                except OSError:
                    pass
        if not self.existed:
            try:
                os.rmdir(self.folder)  # only when empty
            except OSError:
                pass


# The private names the programs write under before moving a file into place.
STAGED_PATTERNS = [".tsr*"]


def run(args, feedback, leftovers=(), stdin_path=None, error_from_stdout=None):
    """Runs `args`, passing its progress to feedback.setProgress and its messages to the log.
    On feedback.isCanceled() the program is ended, and whatever it left in `leftovers` is
    removed. Raises QgsProcessingException with the program's message when it fails, and when
    it was cancelled. Returns the lines of its standard output, which go to the log too."""
    if feedback is None:
        feedback = QgsProcessingFeedback()
    feedback.pushCommandInfo(" ".join(_quote(a) for a in args))
    messages = []

    def on_line(text):
        if text.startswith(NOTE_PREFIXES):
            feedback.pushWarning(text)
        else:
            messages.append(text)
            feedback.pushInfo(text)

    reader = StderrReader(feedback.setProgress, on_line)
    stdin = open(stdin_path, "rb") if stdin_path else subprocess.DEVNULL
    try:
        proc = subprocess.Popen(args, stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, creationflags=_NO_WINDOW)
    except OSError as e:
        raise QgsProcessingException("{}: cannot be run ({})".format(args[0], e.strerror))
    finally:
        if stdin_path:
            stdin.close()

    chunks = queue.Queue()

    def pump(stream, kind):
        while True:
            data = os.read(stream.fileno(), 65536)
            chunks.put((kind, data))
            if not data:
                return

    pumps = [threading.Thread(target=pump, args=(proc.stdout, "out"), daemon=True),
             threading.Thread(target=pump, args=(proc.stderr, "err"), daemon=True)]
    for t in pumps:
        t.start()
    decoders = {k: codecs.getincrementaldecoder("utf-8")("replace") for k in ("out", "err")}
    out = []
    open_streams = 2
    cancelled = False
    while open_streams:
        if feedback.isCanceled():
            cancelled = True
            _end(proc)
            break
        try:
            kind, data = chunks.get(timeout=0.1)
        except queue.Empty:
            continue
        if not data:
            open_streams -= 1
            continue
        text = decoders[kind].decode(data)
        if kind == "err":
            reader.feed(text)
        else:
            out.append(text)
    status = proc.wait()
    for t in pumps:
        t.join(timeout=5)
    proc.stdout.close()
    proc.stderr.close()
    reader.close()
    if cancelled:
        for place in leftovers:
            place.remove()
        raise QgsProcessingException(
            "Cancelled: {} was stopped and its outputs were removed".format(
                os.path.basename(args[0])))
    stdout_lines = "".join(out).splitlines()
    for line in stdout_lines:
        feedback.pushConsoleInfo(line)
    if status != 0:
        if error_from_stdout:
            message = error_from_stdout(stdout_lines)
        else:
            message = messages[-1] if messages else None
        raise QgsProcessingException(
            message or "{} ended with status {}".format(os.path.basename(args[0]), status))
    return stdout_lines


def _end(proc):
    """Asks the program to end, then kills it if it has not after five seconds."""
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def _quote(arg):
    return arg if re.fullmatch(r"[\w@%+=:,./-]+", arg) else "'" + arg.replace("'", "'\\''") + "'"
