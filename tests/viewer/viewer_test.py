#!/usr/bin/env python3
"""tqhost's HTML preview in headless Chromium: readouts, marks, keys, play and
pixels. Usage: viewer_test.py TQHOST SOURCE_DIR [KEEP_SCREENSHOT.png]"""
import html, os, re, shutil, struct, subprocess, sys, tempfile, zlib

HOST, ORBIT = os.path.abspath(sys.argv[1]), os.path.join(sys.argv[2], 'examples', 'orbit.tqs.json')
BLUE = (0x4E, 0xA1, 0xFF)  # the first target's colour
HOSTILE = '</script><script>alert(1)</script> "Tom\'s" $(date) ü'
chromium, work, failures = shutil.which('chromium'), tempfile.mkdtemp(), []
if not chromium:
    sys.exit('FAIL: chromium is not installed (scripts/setup.sh installs it)')


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL: ' + what)


def host(*args):
    r = subprocess.run([HOST, *args], cwd=work, capture_output=True, text=True)
    if r.returncode != 0:
        sys.exit('FAIL: tqhost %s: %s' % (' '.join(args), r.stderr))
    return r.stdout


def browse(page, frame, *flags, budget=1000):  # the page's DOM, or what flags ask for
    profile = tempfile.mkdtemp()
    r = subprocess.run([chromium, '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
                        '--no-first-run', '--disable-background-networking',
                        '--disable-component-update', '--disable-sync', '--user-data-dir=' + profile,
                        '--virtual-time-budget=%d' % budget, *(flags or ['--dump-dom']),
                        'file://%s/%s#frame=%s' % (work, page, frame)],
                       capture_output=True, text=True, timeout=120)
    shutil.rmtree(profile, ignore_errors=True)
    return r.stdout


def element(dom, id):  # (its start tag, its text)
    m = re.search(r'(<[a-z]+ [^>]*\bid="%s"[^>]*>)([^<]*)<' % re.escape(id), dom)
    return (m.group(1), html.unescape(m.group(2))) if m else ('', None)


def lines(name):  # (frame, readout) a line of NAME.txt; frames as its csv copy has them
    track = (line.split('\t') for line in open(os.path.join(work, name + '.txt')))
    frames = (row.split(',')[0] for row in open(os.path.join(work, name + '.csv')).readlines()[1:])
    return [(f, 'frame %s  x %s  y %s' % (f, x, y.strip())) for f, (i, x, y) in zip(frames, track)]


def colours(path):  # the colours of an 8-bit RGB or RGBA PNG
    data, pos, idat = open(path, 'rb').read(), 8, b''
    while pos < len(data):
        n, kind = struct.unpack('>I4s', data[pos:pos + 8])
        if kind == b'IHDR':
            w, h, _, ctype = struct.unpack('>IIBB', data[pos + 8:pos + 18])
        idat += data[pos + 8:pos + 8 + n] if kind == b'IDAT' else b''
        pos += 12 + n
    n, raw = {2: 3, 6: 4}[ctype], zlib.decompress(idat)
    stride, prev, seen = w * n, bytearray(w * n), set()
    for row in range(h):
        f, line = raw[row * (stride + 1)], bytearray(raw[row * (stride + 1) + 1:][:stride])
        for i in range(stride):
            a, b, c = line[i - n] if i >= n else 0, prev[i], prev[i - n] if i >= n else 0
            p = a + b - c
            paeth = a if abs(p - a) <= min(abs(p - b), abs(p - c)) else b if abs(p - b) <= abs(p - c) else c
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth)[f]) & 255
        seen.update(tuple(line[i:i + 3]) for i in range(0, stride, n))
        prev = line
    return seen


# One target from a fractional start: the first, a middle and the last frame.
summary = host('export', ORBIT, '--target', 'Robot', '--start', '0.1', '--end', '100',
               '-o', 'robot.txt', '--preview', 'robot.html', '--also', 'csv:robot.csv')
check(summary.endswith('preview drawn in robot.html\n3 files written\n'), summary)
robot = lines('robot')
for frame, line in (robot[0], robot[len(robot) // 2], robot[-1]):
    check(element(browse('robot.html', frame), 'readout')[1] == line, 'robot.html frame ' + frame)
# With decimals the readout shows the file's values as written (-0.250, 12.300).
host('export', ORBIT, '--target', 'Robot', '--decimals', '3', '-o', 'fine.txt',
     '--preview', 'fine.html', '--also', 'csv:fine.csv')
for frame, line in lines('fine')[0:13:4]:  # frames 8 and 12 end in a 0
    check(element(browse('fine.html', frame), 'readout')[1] == line, 'fine.html frame ' + frame)

# Keys, the address and play at the scene's 30 fps, by a probe added to a copy
# of the page (it presses keys and reads the readout after each).
probe = '''<pre id="log"></pre><script>var log = [];
function key(k, shift) {
  document.body.dispatchEvent(new KeyboardEvent('keydown', {key: k, shiftKey: shift, bubbles: true}));
  log.push(document.getElementById('readout').textContent); }
key('ArrowRight'); key('ArrowRight', true); key('End'); key('Home'); key('ArrowLeft');
location.hash = '#frame=60.4';  // then Space, 1.01 s, Space
setTimeout(function () { key(' '); setTimeout(function () { key(' ');
  document.getElementById('log').textContent = log.join('|') + '|' + location.hash; }, 1010); }, 10);
</script></body>'''
open(os.path.join(work, 'probe.html'), 'w').write(
    open(os.path.join(work, 'robot.html')).read().replace('</body>', probe))
_, log = element(browse('probe.html', robot[10][0], budget=3000), 'log')
want = [robot[i][1] for i in (11, 21, -1, 0, 0, 60, 90)] + ['#frame=' + robot[90][0]]
check(log == '|'.join(want), 'keys and play: %s' % log)

# Two targets in one page: each legend row reads its own track.
summary = host('export', ORBIT, '--target', 'Robot', '--target', 'Marker', '--start', '7',
               '-o', '{target}.txt', '--preview', 'both.html', '--also', 'csv:{target}.csv')
check('preview of 2 targets drawn in both.html\n' in summary, 'summary: ' + summary)
frame, line = lines('Robot')[40]
dom = browse('both.html', frame)
check(element(dom, 'readout')[1] == line, 'both.html readout')
check(element(dom, 'readout-0')[1] == line, 'both.html Robot')
check(element(dom, 'readout-1')[1] == lines('Marker')[40][1], 'both.html Marker')

# A screenshot shows the track's colour.
shot = os.path.join(work, 'shot.png')
browse('both.html', 47, '--screenshot=' + shot, '--window-size=900,760', '--hide-scrollbars')
check(BLUE in colours(shot), 'the screenshot lacks the track colour')
if len(sys.argv) > 3:
    shutil.copy(shot, sys.argv[3])

# A hostile name whose target reaches the camera's image plane at frame 2
# and is behind it at 3 and 4, over a plate of which only frame 1 exists.
with open(os.path.join(work, 'plane.tqs.json'), 'w') as f:
    f.write('{"format": "tq-scene", "version": 1, "project": {"fps": 24}, "chor": {"objects": ['
            '{"type": "camera", "name": "Cam", "output": {"width": 64, "height": 48, "endFrame": 4}},'
            '{"type": "null", "name": %s, "translate": {"keys": [[0, [1, 0, -10]], [2, [1, 0, 0]], '
            '[4, [1, 0, 10]]]}}]}}'
            % ('"' + HOSTILE.replace('"', '\\"') + '"'))
os.mkdir(os.path.join(work, 'plates'))
shutil.copy(shot, os.path.join(work, 'plates', 'p.0001.png'))
host('export', 'plane.tqs.json', '--target', HOSTILE, '-o', 'plane.txt', '--preview', 'plane.html',
     '--plate', 'plates/p.####.png')
dom = browse('plane.html', 2)
check(element(dom, 'readout') == ('<span id="readout" class="marked">', 'frame 2  x -2147483648  '
                                  'y -2147483648  could not be projected'), 'the mark')
_, x, y = open(os.path.join(work, 'plane.txt')).read().split('\n')[3].split('\t')
check(element(browse('plane.html', 3), 'readout')[1] == 'frame 3  x %s  y %s  behind the camera'
      % (x, y), 'behind the camera')
check(dom.count('<script') == 2, 'a name broke out of its script element')
name = re.search(r'<span class="name" title="[^"]*">([^<]*)</span>', dom).group(1)
check(name == html.escape(HOSTILE, False), 'the name shown')
check('fill="#ff3b30"' in dom and 'fill="#ff9500"' in dom, 'no marks on the strip')
check(re.search(r'<image id="plate"[^>]*href="plates/p.0002.png"[^>]*visibility: hidden', dom),
      'a missing plate image is not hidden')
check('visibility: visible' in browse('plane.html', 1), 'the plate of frame 1 is not shown')

for page in ('robot.html', 'both.html', 'plane.html'):
    check(not re.search(rb'https?:', open(os.path.join(work, page), 'rb').read(), re.I),
          page + ' names http: or https:')
shutil.rmtree(work)
sys.exit('FAIL: %d checks' % len(failures) if failures else 0)
