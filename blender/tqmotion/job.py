"""tqhost running on a baked shot, watched without blocking Blender: asked
first what it will write (tqhost export --plan, answered while the add-on
writes the whole scene file), then run with its output read
as it comes, its files checked against its plan and its account and put in
place, or everything it began removed, and every process it started
stopped, when it is cancelled or fails."""

import json
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time

from .common import ExportError

TRACK_SAID = re.compile(r"(\d+) frames written to (.+)")
PLAN_TIMEOUT = 60  # s; the plan loads the scene, nothing more
PARTS_FROM = 16  # targets; from this many, tqhost writes them in two runs
READING = 0.02  # s; the longest a look at what tqhost says takes (Blender waits meanwhile)
# A track's line: frame index, X, Y. Matched on its shape, every digit made 0.
TRACK_LINE = re.compile(rb"\d+\t-?\d+(?:\.\d+)?\t-?\d+(?:\.\d+)?")
SHAPE = bytes.maketrans(b"123456789", b"000000000")


def make_folder(folder, made):
    """Makes folder and the folders above it that are missing, noting each in made."""
    missing = []
    while folder and not os.path.isdir(folder) and folder not in missing:
        missing.append(folder)
        folder = os.path.dirname(folder)
    for f in reversed(missing):
        try:
            os.mkdir(f)
        except FileExistsError:
            if not os.path.isdir(f):
                raise ExportError(f"The folder {missing[0]} cannot be made: Not a directory")
            continue
        except OSError as e:
            raise ExportError(f"The folder {missing[0]} cannot be made: {e.strerror or e}")
        made.append(f)


def stop(process):
    """Stops a tqhost and what it started (its process group, which keeps its
    number while tqhost is not waited for, even once it has ended), and
    waits for it."""
    if process.returncode is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.wait(1)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()


def processors():
    """The processors this process may run on (as tqhost counts them)."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def remove_made(made):
    """A failed export leaves no folder of its own behind (one holding a file is kept)."""
    for folder in reversed(made):
        try:
            os.rmdir(folder)
        except OSError:
            pass


class Part:
    """One tqhost (saying its plan, or writing some of the targets), what it
    has said, and the folder it writes in (its own)."""

    def __init__(self, runs, process, folder):
        self.runs, self.process, self.folder = runs, process, folder
        self.out, self.err = bytearray(), bytearray()
        self.status = None  # its exit status once it has ended (-N: signal N)
        self.files = None  # its files, checked, once it has ended
        self.held = False  # ended, its output still held by a process it started
        for pipe in (process.stdout, process.stderr):
            os.set_blocking(pipe.fileno(), False)

    def pipes(self):
        return [p for p in (self.process.stdout, self.process.stderr) if not p.closed]

    def read(self):
        """What tqhost has said so far, and what it goes on saying at once
        (a pipe holds 64 KiB: a plan of thousands of targets comes in many
        of them), for at most READING s."""
        until = time.monotonic() + READING
        while True:
            for pipe, into in ((self.process.stdout, self.out), (self.process.stderr, self.err)):
                while not pipe.closed:
                    try:
                        chunk = os.read(pipe.fileno(), 1 << 16)
                    except BlockingIOError:
                        break
                    if not chunk:
                        pipe.close()
                    into += chunk
            left = until - time.monotonic()
            if left <= 0 or not self.pipes() or not select.select(
                    self.pipes(), [], [], min(left, 0.002))[0]:
                return

    def ended(self):
        """Whether tqhost has ended, all it said read; a pipe still open then
        is held by a process it left behind, which is not waited for. tqhost
        itself is left to be waited for by stop() or discard(): until then its
        process group cannot be another's, and a cancel stops what it left."""
        self.read()
        if self.status is None:
            ended = os.waitid(os.P_PID, self.process.pid,
                              os.WEXITED | os.WNOHANG | os.WNOWAIT)
            if ended is None:
                return False
            self.status = (ended.si_status if ended.si_code == os.CLD_EXITED
                           else -ended.si_status)
            self.read()
            self.held = bool(self.pipes())
        return True


class ExportJob:
    """tqhost's run on the baked shot: begin() (its plan asked, and what
    starts the runs once it is read: start(), twice for a shot of many
    targets, half the targets each, the first half written while the
    add-on lays out the second's scene file), poll() until it answers
    (summary, warnings) or raises ExportError, or cancel() it."""

    def __init__(self, tqhost, args, names, frames, directory):
        self.tqhost, self.args, self.names = tqhost, args, names
        self.frames, self.directory = frames, directory
        self.indices = [b"%d\t" % i for i in range(frames)]  # each line's start
        self.cameras, self.copies = [], []  # [name, first, last]; format names
        self.plan = None  # what tqhost says it will write, from export --plan
        self.made, self.folders, self.temp = [], [], None  # folders: where tqhosts write
        self.fds = []  # the scene files kept in memory
        self.asking, self.parts = None, []  # tqhost saying its plan; tqhosts writing

    def begin(self, plan_text, then):
        """tqhost asked what it will write, on plan_text (the scene file with
        fewer keys, bytes); it answers while the scene files are laid out.
        then(job) starts the runs once the plan is read (poll() reads it as
        soon as tqhost has answered: a tqhost that does not answer is
        cancelled like one that does not finish)."""
        self.then, self.plan_by = then, time.monotonic() + PLAN_TIMEOUT
        try:
            make_folder(self.directory, self.made)
            folder = self.new_folder()
            plan_file = self.write_scene("plan.tqs.json", plan_text)
            self.asking = Part([], self.run_tqhost(
                self.command(plan_file, self.names, "--plan"), folder), folder)
        except BaseException:
            self.discard()
            raise

    def halves(self):
        """Whether tqhost may write the targets in two runs: many targets, and
        every file of its plan a target's own (none shared between them)."""
        if len(self.names) < PARTS_FROM:
            return False
        files = [f for run in self.plan["runs"] for f in self.files_of(run)]
        return len(set(files)) == len(files)

    def start(self, scene_text, first, last):
        """tqhost started on scene_text (bytes) for the targets first to last
        (not included), once its plan is read; given half the processors
        when it writes part of them, and a folder of its own, so that
        another run's files are never its."""
        try:
            folder = self.new_folder() if self.parts else self.folders[0]
            runs = self.plan["runs"][first:last]
            self.lay_out(folder, runs)
            scene_file = self.write_scene(f"shot{first}.tqs.json", scene_text)
            names = self.names[first:last]
            jobs = [] if len(names) == len(self.names) else [f"--jobs={max(1, processors() // 2)}"]
            process = self.run_tqhost(self.command(scene_file, names, *jobs), folder)
            self.parts.append(Part(runs, process, folder))
        except BaseException:
            self.cancel()
            raise

    def write_scene(self, name, data):
        """A scene file for tqhost (data: its bytes): its path. Kept in memory
        where the system allows (a memfd, read through /dev/fd): a file on
        disk would be written out by tqhost's durable saves (which sync the
        whole file system) only to be deleted, and the disk's blocks freed
        again."""
        try:
            fd = os.memfd_create(name)
        except (AttributeError, OSError):  # not Linux, or not allowed: a temporary file
            fd = None
        if fd is not None:
            self.fds.append(fd)
            try:
                with open(fd, "wb", closefd=False) as f:
                    f.write(data)
            except OSError as e:  # out of memory
                raise ExportError(f"The scene file {name} cannot be kept in memory: "
                                  f"{e.strerror or e}")
            return f"/dev/fd/{fd}"
        try:
            self.temp = self.temp or tempfile.mkdtemp(prefix="tqmotion-")
            with open(os.path.join(self.temp, name), "wb") as f:
                f.write(data)
        except OSError as e:
            raise ExportError(f"The scene file {name} cannot be written to "
                              f"{self.temp or tempfile.gettempdir()}: {e.strerror or e}")
        return os.path.join(self.temp, name)

    def new_folder(self):
        """A fresh hidden folder in the output folder, for a tqhost to write in."""
        try:
            self.folders.append(tempfile.mkdtemp(prefix=".tqmotion-", dir=self.directory))
        except OSError as e:
            raise ExportError(f"The folder {self.directory} cannot be written: "
                              f"{e.strerror or e}")
        return self.folders[-1]

    def run_tqhost(self, command, folder):
        """tqhost started in folder, in a process group of its own (so that a
        cancel stops what it started too), given the scene files kept in
        memory."""
        try:
            return subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, cwd=folder,
                                    start_new_session=True, pass_fds=self.fds)
        except OSError as e:
            raise ExportError(f"tqhost could not be run from '{self.tqhost}': "
                              f"{e.strerror or e}")

    def command(self, scene_file, names, *more):
        return ([self.tqhost, self.args[0], scene_file] + self.args[1:] +
                ["--target=" + name for name in names] + list(more))

    @staticmethod
    def files_of(run):
        return [run["output"]] + [c["path"] for c in run["copies"]]

    def planned(self):
        """Whether tqhost's plan is read and the runs started (then()); False
        while tqhost has not answered, without waiting for it."""
        if self.plan is not None:
            return True
        if not self.asking.ended():
            if time.monotonic() > self.plan_by:
                raise ExportError(f"tqhost ({self.tqhost}) did not say what it would write in "
                                  f"{PLAN_TIMEOUT} s; stopped")
            return False
        self.take_plan()
        self.then(self)
        return True

    def take_plan(self):
        """What tqhost will write, every path checked by tqhost itself: all it
        said by the time it ended (a process it left holding its output is
        not waited for)."""
        asking = self.asking
        out = asking.out.decode("utf-8", "replace")
        self.fail_on(asking.status, out, asking.err.decode("utf-8", "replace"))
        try:
            plan = json.loads(out)
            files = [f for run in plan["runs"] for f in self.files_of(run)]
            if [run["target"] for run in plan["runs"]] != self.names:
                raise ValueError("other targets")
            if not all(isinstance(f, str) and f and "\0" not in f for f in files):
                raise ValueError("not a file name")
        except (ValueError, KeyError, TypeError, RecursionError):  # nested too deep for json
            self.refuse("did not say what it would write (export --plan)")
        for f in files:
            rel = os.path.normpath(f)
            if os.path.isabs(f) or rel == ".." or rel.startswith(".." + os.sep):
                raise ExportError(f"The file pattern names {f}, outside the folder; name files "
                                  "inside it")
        self.plan = plan

    def lay_out(self, folder, runs):
        """The folders the runs' files go in, made in folder (tqhost makes none)."""
        for f in (f for run in runs for f in self.files_of(run)):
            below = os.path.dirname(os.path.normpath(f))
            try:
                os.makedirs(os.path.join(folder, below), exist_ok=True)
            except OSError as e:
                raise ExportError(f"The folder {os.path.join(self.directory, below)} cannot be "
                                  f"made: {e.strerror or e}")

    def tracks_said(self):
        return sum(1 for part in self.parts
                   for ln in part.out.decode("utf-8", "replace").splitlines()
                   if TRACK_SAID.search(ln))

    def poll(self):
        """None while tqhost runs; then (summary, warnings), or ExportError.
        Each run's files are checked as soon as it ends."""
        try:
            if not self.planned():
                return None
            for part in self.parts:
                if part.files is None and part.ended():
                    part.files = self.accounted(part)
            if any(part.files is None for part in self.parts):
                return None
            done = self.finish()
        except BaseException:
            self.cancel()
            raise
        self.discard()
        return done

    def wait(self, timeout):
        """poll() until tqhost answers; stopped after timeout seconds."""
        deadline = time.monotonic() + timeout
        try:
            while (done := self.poll()) is None:
                if time.monotonic() > deadline:
                    raise ExportError(f"tqhost ({self.tqhost}) did not finish in {timeout} s; "
                                      "stopped")
                # Woken by tqhost's output, or its end (which closes its pipes);
                # not by what a process left behind by an ended one says.
                select.select([p for part in [self.asking] + self.parts
                               if part.status is None for p in part.pipes()], [], [], 0.05)
            return done
        finally:
            if any(process.returncode is None for process in self.tqhosts()):
                self.cancel()

    def tqhosts(self):
        return [part.process for part in [self.asking] + self.parts if part is not None]

    def cancel(self):
        """Stops tqhost and what it started; nothing it wrote is kept."""
        for process in self.tqhosts():
            stop(process)
        self.discard()

    def discard(self):
        """Everything of the job removed; its tqhosts, which have ended, waited for."""
        for process in self.tqhosts():
            process.stdout.close()
            process.stderr.close()
            process.poll()
        for folder in self.folders + [self.temp]:
            if folder:
                shutil.rmtree(folder, ignore_errors=True)
        self.folders, self.temp = [], None
        for fd in self.fds:
            os.close(fd)
        self.fds = []
        remove_made(self.made)

    def fail_on(self, status, out, err):
        """An ExportError with tqhost's own words when it did not exit with 0;
        its lines on standard error, without "tqhost: "."""
        lines = [ln[len("tqhost: "):] if ln.startswith("tqhost: ") else ln
                 for ln in err.splitlines() if ln.strip()]
        if status != 0:
            why = "; ".join(lines) or out.strip() or "no message"
            how = f"was ended by signal {-status}" if status < 0 else f"exited with status {status}"
            raise ExportError(f"tqhost ({self.tqhost}) {how}: {why}")
        return lines

    def finish(self):
        """Every run's files, checked, put in place; what tqhost said."""
        print("tqmotion: plan " + json.dumps(self.plan))
        files, warnings = [], []
        for part in self.parts:
            files += [(part.folder, f) for f in part.files]
            lines = self.fail_on(0, "", part.err.decode("utf-8", "replace"))
            warnings += [ln.replace("warning: ", "", 1) for ln in lines if "warning" in ln]
            on_disk = {os.path.relpath(os.path.join(top, f), part.folder)
                       for top, _, names in os.walk(part.folder) for f in names}
            for extra in sorted(on_disk - set(part.files)):
                self.refuse(f"wrote {extra}, which it did not account for")
        self.move(files)
        if any(part.held for part in [self.asking] + self.parts):
            warnings.append("tqhost finished, but a process it started still holds its output "
                            "(not waited for); the tracks were checked and written")
        return self.summary([f for _, f in files]), list(dict.fromkeys(warnings))  # each once

    def refuse(self, what):
        raise ExportError(f"tqhost ({self.tqhost}) exited with status 0 but {what}; nothing "
                          "was written")

    def accounted(self, part):
        """The files of a run that has ended, as tqhost's plan names them,
        each checked and its track said to be written."""
        out = part.out.decode("utf-8", "replace")
        if out:
            print("tqmotion: " + out.rstrip().replace("\n", "\ntqmotion: "))
        self.fail_on(part.status, out, part.err.decode("utf-8", "replace"))
        files, said = [], out.splitlines()
        for run in part.runs:
            name = run["target"]
            prefix = name + ": " if len(part.runs) > 1 else ""
            mine = [ln[len(prefix):] for ln in said if ln.startswith(prefix)]
            tracks = [m for m in map(TRACK_SAID.fullmatch, mine) if m]
            if len(tracks) != 1:
                self.refuse(f"did not say it wrote the track of '{name}'")
            files.append(self.staged(part.folder, run["output"]))
            self.check_track(name, part.folder, files[-1], int(tracks[0].group(1)))
            for copy in run["copies"]:
                files.append(self.staged(part.folder, copy["path"]))
                if os.path.getsize(os.path.join(part.folder, files[-1])) == 0:
                    self.refuse(f"wrote {files[-1]} empty")
        return files

    def staged(self, folder, planned):
        """A file of the plan, relative to tqhost's folder, there."""
        rel = os.path.normpath(planned)
        if not os.path.isfile(os.path.join(folder, rel)):
            self.refuse(f"did not write {planned}, which it says it wrote")
        return rel

    def check_track(self, name, folder, rel, count):
        """A track holds one line a frame of the range: its index, X and Y."""
        if count != self.frames:
            self.refuse(f"wrote {count} frames of '{name}' where the range has {self.frames}")
        try:
            with open(os.path.join(folder, rel), "rb") as f:
                data = f.read()
        except OSError as e:
            self.refuse(f"wrote {rel}, which cannot be read ({e})")
        # The lines have few shapes (every digit made 0): each is matched once.
        lines = data.split(b"\n")
        if (len(lines) == self.frames + 1 and not lines[-1] and
                all(map(TRACK_LINE.fullmatch, set(data.translate(SHAPE).split(b"\n")[:-1]))) and
                all(map(bytes.startswith, lines, self.indices))):
            return
        # Not a track: what is wrong with it, found line by line.
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as e:
            self.refuse(f"wrote {rel}, which cannot be read ({e})")
        if data.endswith(b"\n"):
            lines.pop()
        if len(lines) != self.frames:
            self.refuse(f"wrote {len(lines)} lines into {rel} where the range has {self.frames}")
        i = next((i for i, ln in enumerate(lines) if not (
            TRACK_LINE.fullmatch(ln) and ln.startswith(b"%d\t" % i))), len(lines) - 1)
        self.refuse(f"wrote {rel} whose line {i + 1} is not frame {i}'s: "
                    f"{lines[i].decode()[:40]!r}")

    def move(self, files):
        """Each file ((its folder, its name)) into its place, one rename each,
        once every place is ready (its folder made, no folder in the way):
        a place that is not leaves the earlier tracks as they were."""
        for _, rel in files:
            dest = os.path.join(self.directory, rel)
            make_folder(os.path.dirname(dest), self.made)
            if os.path.isdir(dest):
                raise ExportError(f"{dest} cannot be written: a folder is in its place; "
                                  "nothing was written")
        for folder, rel in files:
            dest = os.path.join(self.directory, rel)
            try:
                os.replace(os.path.join(folder, rel), dest)
            except OSError as e:
                raise ExportError(f"{dest} cannot be written: {e.strerror or e}")

    def summary(self, files):
        written = [os.path.join(self.directory, rel) for rel in files]
        where = (os.path.commonpath(written) if len(written) > 1
                 else os.path.dirname(written[0]))
        n = len(self.names)
        text = f"{n} track{'s' if n != 1 else ''} written to {where}"
        if self.copies:
            text += f" (with {', '.join(self.copies)} copies)"
        return text + "; through " + ", ".join(
            f"{c} {a}" if a == b else f"{c} {a}-{b}" for c, a, b in self.cameras)
