# SPDX-License-Identifier: Apache-2.0
"""vireo against hostile and clumsy use: every case runs vireo as a subprocess under a time
limit and a memory ceiling, and checks its exit status, what it says, and that the files it
must not damage are intact.

usage: robustness.py VIREO MAKE_RIG WORK [CASE...]

WORK is a scratch folder (emptied first); CASE names limit the run to those cases. Every case
runs, and each prints one line; the exit status is 1 when one failed.
"""
import concurrent.futures
import json
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
READ_WRITE = os.path.join(HERE, "..", "e2e", "read_write")

# Peak resident memory a case may use, and the address-space ceiling set for it (not under
# AddressSanitizer, which reserves terabytes of address space up front).
MAX_RSS_MB = 1500
ADDRESS_SPACE = 8 << 30


class Case:
    """One run of vireo: its arguments, the exit status expected (a set or one value), and texts
    its output must contain. Options: timeout (s); files that must keep their content;
    file_limit (RLIMIT_FSIZE in bytes); signal_after ((signal, pattern, n): sent once vireo
    printed n lines matching the regular expression); check (function(stdout, stderr) -> error
    or None); python ((file name, text) of a script the case runs)."""
    OPTIONS = dict(timeout=30, files=(), file_limit=None, signal_after=None, check=None,
                   python=None)

    def __init__(self, name, args, status, says=(), **options):
        assert set(options) <= set(self.OPTIONS), options
        self.__dict__.update(self.OPTIONS, name=name, args=args, status=status, says=says,
                             **options)


def write(path, text, mode="w"):
    with open(path, mode) as f:
        f.write(text)


def script(nodes, connections=(), header="vireo 1\n"):
    text = header
    for cls, name, knobs in nodes:
        text += "node %s %s\n" % (cls, name)
        for k, v in knobs:
            text += "    %s %s\n" % (k, v)
        text += "end\n"
    for c in connections:
        text += "connect %s\n" % c
    return text


def asan(vireo):
    try:
        out = subprocess.run(["ldd", vireo], capture_output=True, text=True).stdout
    except OSError:
        return False
    return "libasan" in out


def run_case(case, vireo, work, limit_memory, slow):
    if case.python:
        write(os.path.join(work, case.python[0]), case.python[1])
    before = {}
    for f in case.files:
        with open(os.path.join(work, f), "rb") as h:
            before[f] = h.read()

    def limits():
        if limit_memory:
            resource.setrlimit(resource.RLIMIT_AS, (ADDRESS_SPACE, ADDRESS_SPACE))
        if case.file_limit is not None:
            resource.setrlimit(resource.RLIMIT_FSIZE, (case.file_limit, case.file_limit))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write then fails with EFBIG

    start = time.monotonic()
    proc = subprocess.Popen([vireo] + case.args, cwd=work, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, preexec_fn=limits)
    streams = {"out": [], "err": []}

    def drain(name, f):
        for line in iter(f.readline, b""):
            streams[name].append(line)

    readers = [threading.Thread(target=drain, args=(n, f))
               for n, f in (("out", proc.stdout), ("err", proc.stderr))]
    for r in readers:
        r.start()
    signalled = None
    # Waited for here, not by Popen, to get this child's own peak memory.
    status = None
    while status is None:
        if case.signal_after and signalled is None:
            sig, marker, times = case.signal_after
            if sum(bool(re.search(marker.encode(), line))
                   for line in list(streams["err"])) >= times:
                proc.send_signal(sig)
                signalled = time.monotonic()
        pid, raw, usage = os.wait4(proc.pid, os.WNOHANG)
        if pid == proc.pid:
            status = raw
        elif time.monotonic() - start > case.timeout * slow:
            proc.kill()
            os.wait4(proc.pid, 0)
            for r in readers:
                r.join()
            return "timed out after %d s" % (case.timeout * slow), time.monotonic() - start
        else:
            time.sleep(0.02)
    stopped = time.monotonic()
    for r in readers:
        r.join()
    proc.returncode = -os.WTERMSIG(status) if os.WIFSIGNALED(status) else os.WEXITSTATUS(status)
    out, err = b"".join(streams["out"]), b"".join(streams["err"])
    seconds = time.monotonic() - start
    rss_mb = usage.ru_maxrss / 1024.0
    err = err.decode("utf-8", "replace")
    out = out.decode("utf-8", "replace")
    statuses = case.status if isinstance(case.status, (set, tuple)) else {case.status}
    problems = []
    if proc.returncode < 0:
        problems.append("killed by signal %d" % -proc.returncode)
    elif proc.returncode not in statuses:
        problems.append("exit status %d, expected %s" % (proc.returncode, sorted(statuses)))
    for text in case.says:
        if text not in err and text not in out:
            problems.append("does not say %r" % text)
    if signalled is not None and stopped - signalled > 1.5 * slow:
        problems.append("took %.1f s to stop after the signal" % (stopped - signalled))
    if rss_mb > MAX_RSS_MB * slow:
        problems.append("peak memory %.0f MB" % rss_mb)
    for f, content in before.items():
        path = os.path.join(work, f)
        if not os.path.exists(path):
            problems.append("%s is gone" % f)
        else:
            with open(path, "rb") as h:
                if h.read() != content:
                    problems.append("%s changed" % f)
    if case.check and not problems:
        why = case.check(out, err)
        if why:
            problems.append(why)
    if problems:
        tail = err.strip().splitlines()[-3:]
        return "; ".join(problems) + " | " + " / ".join(l[:200] for l in tail), seconds
    return None, seconds


def prepare(work, vireo, make_rig):
    for name in os.listdir(READ_WRITE):
        if name.startswith("in_") or name == "rig.json":
            shutil.copy(os.path.join(READ_WRITE, name), work)
    rig = json.load(open(os.path.join(READ_WRITE, "rig.json")))

    overflow = json.dumps(rig).replace('"focal_length": 8.0', '"focal_length": 1e999', 1)
    write(os.path.join(work, "overflow.json"), overflow)
    twice = json.loads(json.dumps(rig))
    for cam in twice["cameras"]:
        cam["view"] = "cam1"
    json.dump(twice, open(os.path.join(work, "twice.json"), "w"))
    many = json.loads(json.dumps(rig))
    many["cameras"] = [dict(rig["cameras"][i % 2], rotation=[0, i * 0.35, 0]) for i in range(600)]
    json.dump(many, open(os.path.join(work, "many.json"), "w"))

    read = ("Read", "Read1", [("file", "in_%V.####.png"), ("rig", "rig.json")])
    write_node = ("Write", "Write1", [("file", "out_%V.####.ppm"), ("views", '"cam1 cam2"'),
                                      ("channels", "rgb")])
    write(os.path.join(work, "good.vireo"), script([read, write_node], ["Read1 Write1 0"]))
    write(os.path.join(work, "braced.vireo"),
          "vireo 1\nnode Write W1\n    notes {\n" + "    1 2 3\n" * 200000 + "    }\nend\n")
    write(os.path.join(work, "latin1.vireo"),
          b"vireo 1\nnode Read Read1\n    file caf\xe9_%V.####.png\nend\n", "wb")
    for rig_file in ("overflow", "twice", "many"):
        r = ("Read", "Read1", [("file", "in_%V.####.png"), ("rig", rig_file + ".json")])
        w = ("Write", "Write1", [("file", "out_%V.####.ppm")])
        write(os.path.join(work, rig_file + ".vireo"), script([r, w], ["Read1 Write1 0"]))
    lonely = ("V_DizuvaRuvi", "D1", [])
    write(os.path.join(work, "lonely.vireo"), script([lonely]))
    # In the order a saved script has them: the state knobs before the stores.
    bad_stores = [("isMatched", "true"), ("isWarped", "true"),
                  ("controlPoints", '"version 2\\nframes 3\\nFrame 1 tracks 0\\n"'),
                  ("gridMap", '"version 1\\ntotal 1\\n"')]
    write(os.path.join(work, "short_store.vireo"), script([("V_DizuvaRuvi", "D1", bad_stores)]))
    subprocess.run([vireo, "short_store.vireo", "--save", "partial.vireo"], cwd=work,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    long_store = [("controlPoints", '"version 2\\nframes 0\\nFrame 1 tracks 0\\n"')]
    write(os.path.join(work, "long_store.vireo"), script([("V_DizuvaRuvi", "D1", long_store)]))
    write(os.path.join(work, "previous.vireo"), "# the previous good script\n" * 10)
    write(os.path.join(work, "out_cam1.0001.ppm"), "previous image")
    # Footage with matches for the interruption cases.
    subprocess.run([make_rig, "--out", "footage", "--cameras", "4", "--size", "320x240",
                    "--frames", "3", "--ext", "png", "--no-truth"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    footage = ("Read", "Read1", [("file", "footage/%V.####.png"), ("rig", "footage/rig.json"),
                                 ("last", "3")])
    write(os.path.join(work, "analysis.vireo"),
          script([footage, ("V_DizuvaRuvi", "D1", [])], ["Read1 D1 0"],
                 header="vireo 1\nviews main cam1 cam2 cam3 cam4\nframes 1 3\n"))
    # The same footage with one camera's file gone from the middle of the sequence, rendered
    # as that camera's own view.
    shutil.copytree(os.path.join(work, "footage"), os.path.join(work, "footage_gap"))
    os.remove(os.path.join(work, "footage_gap", "cam2.0002.png"))
    gap = ("Read", "Read1", [("file", "footage_gap/%V.####.png"),
                             ("rig", "footage_gap/rig.json"), ("last", "3")])
    write(os.path.join(work, "gap.vireo"),
          script([gap, ("V_DizuvaRuvi", "D1", []),
                  ("Write", "W1", [("file", "gap_%V.####.png"), ("views", "cam2")])],
                 ["Read1 D1 0", "D1 W1 0"],
                 header="vireo 1\nviews main cam1 cam2 cam3 cam4\nframes 1 3\n"))
    # The same footage under a rig file of 200 cameras, without links (overlaps are then
    # worked out from the geometry): 196 cameras have no images.
    rig = json.load(open(os.path.join(work, "footage", "rig.json")))
    cameras = []
    for i in range(200):
        camera = dict(rig["cameras"][i % 4], view="cam%d" % (i + 1))
        camera.pop("links", None)
        if i >= 4:
            camera["rotation"] = [(i * 37) % 180 - 90, (i * 53) % 360 - 180, 0]
        cameras.append(camera)
    rig["cameras"] = cameras
    json.dump(rig, open(os.path.join(work, "footage", "rig200.json"), "w"))
    # The same rig less its last camera, whose footage stays.
    rig = json.load(open(os.path.join(work, "footage", "rig.json")))
    rig["cameras"] = rig["cameras"][:3]
    for camera in rig["cameras"]:
        camera.pop("links", None)
    json.dump(rig, open(os.path.join(work, "footage", "rig3.json"), "w"))
    header = "vireo 1\nviews main cam1 cam2 cam3 cam4\nframes 1 3\n"
    small = ("outputFormat", '"512 256"')
    # Panoramas of the footage with a camera's file gone, of a Read whose pattern names no
    # view, and of a rig that lists three of the four cameras; the stitch map of a camera.
    for name, file_pattern, rig_file, write_node in [
            ("gap_pano", "footage_gap/%V.####.png", "footage_gap/rig.json",
             ("file", "pano_gap_%V.####.png")),
            ("one_file", "footage/cam1.####.png", "footage/rig.json",
             ("file", "pano_one_%V.####.png")),
            ("rig3", "footage/%V.####.png", "footage/rig3.json", ("file", "pano3_%V.####.png")),
            ("big", "footage/%V.####.png", "footage/rig.json", ("file", "big_%V.####.png"))]:
        read = ("Read", "Read1", [("file", file_pattern), ("rig", rig_file), ("last", "3")])
        write(os.path.join(work, name + ".vireo"),
              script([read, ("V_DizuvaRuvi", "D1", [small]),
                      ("Write", "W1", [write_node, ("views", "main")])],
                     ["Read1 D1 0", "D1 W1 0"], header=header))
    for name, ext in (("stitch_map_png", "png"), ("stitch_map_exr", "exr")):
        write(os.path.join(work, name + ".vireo"),
              script([footage, ("V_DizuvaRuvi", "D1", []),
                      ("Write", "W1", [("file", "sm_%V.####." + ext), ("views", "cam1"),
                                       ("channels", "stitch_map")])],
                     ["Read1 D1 0", "D1 W1 0"], header=header))
    many_cams = ("Read", "Read1", [("file", "footage/%V.####.png"),
                                   ("rig", "footage/rig200.json"), ("last", "3")])
    write(os.path.join(work, "cams200.vireo"),
          script([many_cams, ("V_DizuvaRuvi", "D1", []),
                  ("Write", "W1", [("file", "pano_%V.####.png"), ("views", "main")])],
                 ["Read1 D1 0", "D1 W1 0"], header="vireo 1\nframes 1 3\n"))


# Match shows each key as its share of the whole run's progress: over two or three keys, a line
# past 50 % means the first key is matched and a later one under way.
AFTER_FIRST_KEY = r"\[D1\] (5[1-9]|[6-9][0-9])%"

MATCH = """import vireo
n = vireo.toNode("D1")
n["keyStep"].setValue(1)
n["addAllAnalysisKeys"].execute()
n["match"].execute()
"""


# A small panorama: what is checked is what the render says, not its pixels.
ANALYSE_AND_RENDER = MATCH + """n["warp"].execute()
n["outputFormat"].fromScript("512 256")
vireo.execute(vireo.toNode("W1"), 1, 1)
"""


NEGATIVE = """import vireo
n = vireo.toNode("D1")
for knob, value in (("spatialSmoothness", -1), ("temporalConsistency", -0.5),
                    ("constraintSampling", -20)):
    try:
        n[knob].setValue(value)
    except ValueError as e:
        print(e)
print("kept", *(n[k].value() for k in ("spatialSmoothness", "temporalConsistency",
                                        "constraintSampling")))
"""

WARP_FROM_NOTHING = """import vireo
n = vireo.toNode("D1")
n["analysisKeyframe"].setKeyAt(1)
try:
    n["warp"].execute()
except RuntimeError as e:
    print(e)
"""

KEY_ALL_BACKWARDS = """import vireo
n = vireo.toNode("D1")
n["analysisKeyframe"].setKeyAt(2)
n["addAllAnalysisKeys"].execute()
k = n["analysisKeyframe"]
print("keys", [k.getKeyTime(i) for i in range(k.getNumKeys())])
"""


def refused(code, error="ValueError"):
    """A script that prints 'refused' and the message when the last line of `code` raises."""
    lines = code.split("\n")
    return "import vireo\n%s\ntry:\n    %s\nexcept %s as e:\n    print('refused', e)\n" % (
        "\n".join(lines[:-1]), lines[-1], error)


def left_out_once(out, err):
    if err.count("left out of this Match") != 1 or err.count("left out of this Warp") != 1:
        return "the cameras without images are not named once per Match and Warp"
    if "left out of matching" in err:
        return "a warning per camera or per key"
    return None


def knob_value(out, name):
    """The value --knobs printed for knob `name`, None when absent."""
    for line in out.splitlines():
        words = line.split()
        if len(words) >= 2 and words[0] == name:
            return words[1]
    return None


def state_follows_stores(out, err):
    if knob_value(out, "isMatched") != "false" or knob_value(out, "isWarped") != "false":
        return "the state knobs claim what the failed stores do not hold"
    return None


def finished_key_kept(work):
    def check(out, err):
        text = open(os.path.join(work, "interrupted.vireo")).read()
        if "Frame 1 tracks " not in text or "Frame 1 tracks 0\\n" in text:
            return "the saved script lost the finished key"
        if "Frame 2 " in text:
            return "the saved script holds the key the signal interrupted"
        return None
    return check


def blames_the_file(out, err):
    return "the failure blames a knob" if "knob 'channels'" in err else None


def no_image_errors(out, err):
    return "image errors after the rig error" if "main.0001" in err else None


def printed_once(text):
    """A check that one line of the error stream holds `text`."""
    def check(out, err):
        n = sum(text in line for line in err.splitlines())
        return None if n == 1 else "%r printed on %d lines" % (text, n)
    return check


def checks(*functions):
    def check(out, err):
        for f in functions:
            why = f(out, err)
            if why:
                return why
        return None
    return check


def no_file(work, name):
    def check(out, err):
        return "%s was written" % name if os.path.exists(os.path.join(work, name)) else None
    return check


def cases(work):
    S = signal
    return [
        # Crashes
        Case("cycle from Python", ["-t", "cycle.py"], 0, ["refused", "cycle"],
             python=("cycle.py", refused("a = vireo.createNode('Write')\na.setInput(0, a)"))),
        Case("huge gridSize", ["analysis.vireo", "--set", "D1.gridSize=1000000 1000000"], 1,
             ["gridSize", "range"]),
        # Hangs and runaway memory
        Case("Python frame range of 2e9", ["-t", "range.py"], 0, ["refused", "outside"],
             timeout=10, python=("range.py", refused("vireo.FrameRanges(1, 2000000000)"))),
        Case("key at frame 1e18", ["analysis.vireo", "-t", "key.py"], 0, ["refused", "outside"],
             python=("key.py", refused("k = vireo.toNode('D1')['analysisKeyframe']\n"
                                       "k.setKeyAt(1e18)"))),
        Case("Key All over 1e8 frames", ["analysis.vireo", "--set", "Read1.last=100000000",
                                         "-t", "keyall.py"], 0, ["raise the key step"],
             timeout=20, python=("keyall.py", "import vireo\nn = vireo.toNode('D1')\n"
                                 "n['keyStep'].setValue(1)\n"
                                 "n['addAllAnalysisKeys'].execute()\n")),
        Case("endless script", ["/dev/zero"], 1, ["at most"], timeout=20),
        Case("value over 200000 lines", ["braced.vireo"], 0, ["has no knob 'notes'"],
             timeout=10),
        Case("600 cameras, 2 inputs", ["many.vireo", "--render", "Write1", "--frames", "1"],
             {0, 1}, [], timeout=30),
        Case("200-camera rig, 4 inputs", ["cams200.vireo", "-t", "analyse.py"], 0,
             ["196 of the rig's 200 cameras have no image at frame 1", "cam5, cam6",
              "and 188 more", "left out of the panorama", "wrote pano_main.0001.png"],
             timeout=15, python=("analyse.py", ANALYSE_AND_RENDER), check=left_out_once),
        Case("SIGINT during Match", ["analysis.vireo", "--save", "interrupted.vireo", "-t",
                                     "match.py"], 130, ["interrupted by SIGINT"], timeout=30,
             signal_after=(S.SIGINT, AFTER_FIRST_KEY, 1), python=("match.py", MATCH),
             check=finished_key_kept(work)),
        Case("SIGTERM during Match", ["analysis.vireo", "-t", "match_term.py"], 143,
             ["interrupted by SIGTERM"], timeout=30, signal_after=(S.SIGTERM, AFTER_FIRST_KEY, 1),
             python=("match_term.py", MATCH)),
        # Lost or corrupt data
        Case("save past the file size limit", ["good.vireo", "--save", "previous.vireo"], 1,
             ["File too large"], files=["previous.vireo"], file_limit=100),
        Case("save into a missing folder", ["good.vireo", "--save", "nowhere/x.vireo"], 1,
             ["No such file or directory"]),
        Case("render past the file size limit", ["good.vireo", "--render", "Write1",
                                                 "--frames", "1"], 1,
             ["cannot write"], files=["out_cam1.0001.ppm"], file_limit=20),
        Case("store count larger than its data", ["short_store.vireo", "--knobs", "D1"], 1,
             ["controlPoints", "keeps", "gridMap"], check=state_follows_stores),
        # Saved without a change, a store that did not read whole is written as it was read.
        Case("partial store saved and loaded again", ["partial.vireo", "--knobs", "D1"], 1,
             ["controlPoints", "keeps", "gridMap"], check=state_follows_stores),
        Case("store count smaller than its data", ["long_store.vireo"], 1,
             ["controlPoints", "count"]),
        # Code named by a script
        Case("--describe with a path", ["--describe", "/usr/lib/x86_64-linux-gnu/libm"], 1,
             ["not a node class name"]),
        # Messages that help
        Case("1e999 in a rig file", ["overflow.vireo", "--render", "Write1", "--frames", "1"], 1,
             ["overflow.json", "focal_length"], check=no_image_errors),
        Case("camera file missing mid-sequence", ["gap.vireo", "--render", "W1"], 1,
             ["Input 2 could not be read", "footage_gap/cam2.0002.png' for frame 2",
              "wrote gap_cam2.0003.png"], check=blames_the_file),
        Case("duplicate views in a rig", ["twice.vireo", "--render", "Write1", "--frames", "1"],
             1, ["twice.json", "cam1"]),
        Case("Match without input", ["lonely.vireo", "-t", "lonely.py"], 0,
             ["Key All needs footage", "Match needs footage", "Warp needs footage"],
             python=("lonely.py", "import vireo\nn = vireo.toNode('D1')\n"
                     "n['addAllAnalysisKeys'].execute()\n"
                     "for b in ('match', 'warp'):\n    try:\n        n[b].execute()\n"
                     "    except RuntimeError as e:\n        print(e)\n")),
        Case("-2147483648", ["analysis.vireo", "--set", "D1.executeType=-2147483648"], 0, []),
        Case("knob text not UTF-8", ["latin1.vireo", "-t", "utf8.py"], 0, ["refused", "UTF-8"],
             python=("utf8.py", refused("vireo.toNode('Read1')['file'].value()"))),
        Case("Write pattern without %V", ["good.vireo", "--render", "Write1", "--frames", "1",
                                          "--set", "Write1.file=same.png"], 0, ["%V"]),
        # A camera missing from a panorama: every frame is written, the one without the camera
        # fails the render, and the Read's error is said once.
        Case("camera file missing from a panorama", ["gap_pano.vireo", "--render", "W1"], 1,
             ["left out of the panorama: cam2", "wrote pano_gap_main.0002.png",
              "wrote pano_gap_main.0003.png",
              "render of W1: 1 of 3 frames written with a warning (frame 2)"],
             timeout=60, check=checks(printed_once("cam2.0002.png"),
                                      printed_once("left out of the panorama"))),
        Case("Read pattern without %V", ["one_file.vireo", "--render", "W1", "--frames", "1"], 1,
             ["the file pattern 'footage/cam1.####.png' has no %V: 4 cameras of the rig read "
              "the same file", "1 of 1 frame written with a warning"],
             check=printed_once("has no %V")),
        Case("footage camera the rig does not list", ["rig3.vireo", "--render", "W1",
                                                      "--frames", "1"], 0,
             ["the rig lists 3 cameras: the camera view cam4 is not in it and left out"],
             check=printed_once("is not in it")),
        Case("stitch map to an 8-bit file", ["stitch_map_png.vireo", "--render", "W1",
                                              "--frames", "1"], 1,
             ["stitch_map.u stitch_map.v are not colour: 'sm_cam1.0001.png' keeps 8-bit values "
              "from 0 to 1", "EXR or TIFF"], check=no_file(work, "sm_cam1.0001.png")),
        Case("stitch map to EXR", ["stitch_map_exr.vireo", "--render", "W1", "--frames", "1"],
             0, ["wrote sm_cam1.0001.exr"]),
        Case("Format of 65536 x 65536", ["big.vireo", "--set", "D1.outputFormat=65536 65536",
                                         "--render", "W1", "--frames", "1"], 1,
             ["Format 65536 x 65536 (knob 'outputFormat') needs at least 256 GiB of memory",
              "choose a smaller Format"], check=no_file(work, "big_main.0001.png")),
        Case("negative weights and spacing", ["analysis.vireo", "-t", "negative.py"], 0,
             ["knob 'spatialSmoothness': -1 is below its minimum 0",
              "knob 'temporalConsistency': -0.5 is below its minimum 0",
              "knob 'constraintSampling': -20 is below its minimum 0", "kept 0.5 2.0 20.0"],
             python=("negative.py", NEGATIVE)),
        Case("Warp with nothing to align", ["analysis.vireo", "--knobs", "D1", "-t", "warp.py"],
             0, ["Warp has nothing to align: no analysis key has camera matches and there are "
                 "no line constraints"], python=("warp.py", WARP_FROM_NOTHING),
             check=lambda out, err: None if knob_value(out, "isWarped") == "false"
             else "isWarped is set"),
        Case("Key All over a backward range", ["analysis.vireo", "--set", "Read1.first=10",
                                               "-t", "backward.py"], 0,
             ["Key All sets no key: the input's frame range runs backwards (first frame 10, "
              "last frame 3)", "keys [2.0]"], python=("backward.py", KEY_ALL_BACKWARDS)),
    ]


def run_numbered(index, *args):
    """run_case for case number `index`, in a worker process: cases hold functions that do not
    pickle."""
    work = args[1]
    return run_case(cases(work)[index], *args)


def main():
    args = sys.argv[1:]
    if len(args) < 3:
        print(__doc__)
        return 2
    vireo, make_rig, work = (os.path.abspath(a) for a in args[:3])
    only = args[3:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    prepare(work, vireo, make_rig)
    # Under AddressSanitizer: no address-space ceiling, and six times the time and memory (four
    # for the sanitizer, and half again for the two cases that share the cores).
    sanitized = asan(vireo)
    limit_memory, slow = not sanitized, 6 if sanitized else 1
    # Two cases at a time, each from a worker process of its own: most of a case is vireo
    # starting up or working on one thread. Each case writes files of its own names only.
    chosen = [(i, c) for i, c in enumerate(cases(work)) if not only or c.name in only]
    failed = 0
    with concurrent.futures.ProcessPoolExecutor(2) as pool:
        runs = [pool.submit(run_numbered, i, vireo, work, limit_memory, slow) for i, _ in chosen]
        for (_, case), run in zip(chosen, runs):
            problem, seconds = run.result()
            print("%-4s %-36s %5.1f s  %s" % ("ok" if not problem else "FAIL", case.name,
                                              seconds, problem or ""), flush=True)
            failed += problem is not None
    print("%d case(s) failed" % failed)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
