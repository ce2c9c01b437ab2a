(function () {
  'use strict';
  var data = JSON.parse(document.getElementById('data').textContent);
  var W = Math.max(data.width, 1), H = Math.max(data.height, 1);
  var start = data.start, fps = data.fps > 0 ? data.fps : 24;
  var view = document.getElementById('view'), NS = view.namespaceURI;
  var $ = function (id) { return document.getElementById(id); };
  var slider = $('slider'), readout = $('readout'), plate = $('plate'), play = $('play');
  var palette = ['#4ea1ff', '#ffb000', '#2ec4b6', '#b388ff', '#a3e635', '#ff7eb6', '#67e8f9',
    '#d6c49c'];
  function colour(k) {
    return k < palette.length ? palette[k] : 'hsl(' + (k * 137.508) % 360 + ', 70%, 62%)';
  }
  function svg(name, attrs, parent) {
    var e = document.createElementNS(NS, name);
    for (var key in attrs) e.setAttribute(key, attrs[key]);
    if (parent) parent.appendChild(e);
    return e;
  }
  // A frame as tqhost prints frames: a value that is exactly a float in
  // the float's shortest digits (0.1, not 0.10000000149011612), else the
  // double's.
  function frameText(i) {
    var f = start + i;
    for (var p = 1; p < 10 && Math.fround(f) === f; ++p) {
      var s = Number(f.toPrecision(p));
      if (Math.fround(s) === f) return String(s);
    }
    return String(f);
  }

  // Tracks: flag 1 could not be projected, 2 behind the camera.
  var tracks = data.targets.map(function (t, k) {
    var n = t.x.length, flag = new Uint8Array(n);
    t.behind.forEach(function (i) { flag[i] = 2; });
    t.unprojected.forEach(function (i) { flag[i] = 1; });
    return { name: t.name, mode: t.mode, x: t.x, y: t.y, decimals: t.decimals, n: n, flag: flag,
      colour: colour(k), shown: true };
  });
  var count = tracks.reduce(function (m, t) { return Math.max(m, t.n); }, 0);

  // The region: the image, grown to the tracks (not beyond one image size
  // each way, where frames behind the camera may go).
  var left = 0, right = W, top = 0, bottom = H;
  tracks.forEach(function (t) {
    for (var i = 0; i < t.n; ++i) {
      if (t.flag[i]) continue;
      var x = Math.min(Math.max(t.x[i], -W), 2 * W), y = Math.min(Math.max(H - t.y[i], -H), 2 * H);
      left = Math.min(left, x); right = Math.max(right, x);
      top = Math.min(top, y); bottom = Math.max(bottom, y);
    }
  });
  var margin = 0.04 * Math.max(W, H), unit = Math.max(right - left, bottom - top) / 500;
  left -= margin; top -= margin; right += margin; bottom += margin;
  view.setAttribute('viewBox', [left, top, right - left, bottom - top].join(' '));
  view.style.aspectRatio = (right - left) + ' / ' + (bottom - top);
  $('viewer').style.maxWidth = Math.max(right - left, 560) + 'px';
  [['outside', left, top, right - left, bottom - top], ['frame', 0, 0, W, H],
   ['plate', 0, 0, W, H], ['border', 0, 0, W, H]].forEach(function (r) {
    var e = $(r[0]);
    e.setAttribute('x', r[1]); e.setAttribute('y', r[2]);
    e.setAttribute('width', r[3]); e.setAttribute('height', r[4]);
  });

  // A ring per point as one path: many marks cost one element.
  function rings(points, r) {
    return points.map(function (p) {
      return 'M' + (p[0] - r) + ' ' + p[1] + 'a' + r + ' ' + r + ' 0 1 0 ' + 2 * r + ' 0a' + r +
        ' ' + r + ' 0 1 0 ' + -2 * r + ' 0';
    }).join('');
  }
  var layers = $('tracks');
  tracks.forEach(function (t) {
    var d = [], marks = [], behind = [], pen = false;
    for (var i = 0; i < t.n; ++i) {
      if (t.flag[i] === 1) {
        if (pen) marks.push([t.x[i - 1], H - t.y[i - 1]]);
        pen = false;
        continue;
      }
      if (!pen && i > 0) marks.push([t.x[i], H - t.y[i]]);  // a gap's end
      if (t.flag[i] === 2) marks.push([t.x[i], H - t.y[i]]);
      if (pen && (t.flag[i] === 2 || t.flag[i - 1] === 2)) {  // a step to or from behind
        behind.push('M' + t.x[i - 1] + ' ' + (H - t.y[i - 1]) + 'L' + t.x[i] + ' ' + (H - t.y[i]));
      }
      d.push((pen ? 'L' : 'M') + t.x[i] + ' ' + (H - t.y[i]));
      pen = true;
    }
    t.layer = svg('g', {}, layers);
    svg('path', { d: d.join(''), fill: 'none', stroke: t.colour, 'stroke-width': 2,
      'stroke-linejoin': 'round', 'vector-effect': 'non-scaling-stroke' }, t.layer);
    svg('path', { d: behind.join(''), fill: 'none', stroke: '#ff5a4e', 'stroke-width': 2,
      'stroke-dasharray': '5 4', 'vector-effect': 'non-scaling-stroke' }, t.layer);
    svg('path', { d: rings(marks, 4 * unit), fill: 'none', stroke: '#ff5a4e', 'stroke-width': 1.5,
      'vector-effect': 'non-scaling-stroke', 'class': 'marks' }, t.layer);
    t.dot = svg('circle', { r: 7 * unit, fill: t.colour, stroke: '#fff', 'stroke-width': 1.5,
      'vector-effect': 'non-scaling-stroke' }, t.layer);
  });

  // The strip under the slider: a row a target, flagged frames in runs.
  var strip = $('strip');
  strip.setAttribute('viewBox', '0 0 ' + Math.max(count, 1) + ' ' + Math.max(tracks.length, 1));
  strip.style.height = 6 * Math.max(tracks.length, 1) + 'px';
  tracks.forEach(function (t, k) {
    for (var i = 0; i < t.n;) {
      var f = t.flag[i], j = i + 1;
      while (j < t.n && t.flag[j] === f) ++j;
      if (f) svg('rect', { x: i, y: k, width: j - i, height: 1, fill: f === 1 ? '#ff3b30' :
        '#ff9500' }, strip);
      i = j;
    }
  });

  // Titles and the legend, names through textContent only.
  function described(t) { return t.name + (t.mode ? ' (' + t.mode + ')' : ''); }
  var who = tracks.length === 1 ? described(tracks[0]) : tracks.length + ' targets';
  $('title').textContent = who + ' through ' + data.camera;
  document.title = $('title').textContent;
  $('info').textContent = data.width + ' x ' + data.height + ' pixels, ' + count +
    (count === 1 ? ' frame' : ' frames') + (count ? ' (' + frameText(0) + ' to ' +
    frameText(count - 1) + ')' : '') + ' at ' + Number(fps.toPrecision(7)) +
    ' fps, origin bottom-left';
  var active = 0, legend = $('legend');
  tracks.forEach(function (t, k) {
    var li = document.createElement('li'), box = document.createElement('input');
    box.type = 'checkbox'; box.checked = true;
    box.setAttribute('aria-label', 'show ' + t.name);
    box.addEventListener('change', function () {
      t.shown = box.checked;
      t.layer.style.display = t.shown ? '' : 'none';
    });
    var swatch = document.createElement('span'), name = document.createElement('span');
    swatch.className = 'swatch'; swatch.style.background = t.colour;
    name.className = 'name'; name.textContent = name.title = described(t);
    name.addEventListener('click', function () { active = k; show(current, false); });
    t.line = document.createElement('span');
    t.line.className = 'line'; t.line.id = 'readout-' + k;
    t.row = li;
    [box, swatch, name, t.line].forEach(function (e) { li.appendChild(e); });
    legend.appendChild(li);
  });

  function plateUrl(i) {
    var p = data.plate, f = Math.floor(start + i);
    if (p.digits < 0) return p.head;
    var digits = String(Math.abs(f)), width = f < 0 ? p.digits - 1 : p.digits;
    while (digits.length < width) digits = '0' + digits;
    return p.head + (f < 0 ? '-' : '') + digits + p.tail;
  }
  if (data.plate) {
    plate.addEventListener('error', function () { plate.style.visibility = 'hidden'; });
    plate.addEventListener('load', function () { plate.style.visibility = 'visible'; });
  }

  function lineOf(t, i) {
    if (i >= t.n) return 'frame ' + frameText(i) + '  no frame';
    return 'frame ' + frameText(i) + '  x ' + t.x[i].toFixed(t.decimals) + '  y ' +
      t.y[i].toFixed(t.decimals) +
      (t.flag[i] === 1 ? '  could not be projected' : t.flag[i] === 2 ? '  behind the camera' : '');
  }
  var current = 0;
  function show(i, remember) {
    if (!count) {
      tracks.forEach(function (t) { t.dot.style.display = 'none'; });
      readout.textContent = 'no frames';
      slider.disabled = play.disabled = true;
      return;
    }
    current = i = Math.min(Math.max(i, 0), count - 1);
    slider.value = i;
    if (data.plate) {
      var url = plateUrl(i);
      if (plate.getAttribute('href') !== url) plate.setAttribute('href', url);
    }
    tracks.forEach(function (t, k) {
      var text = lineOf(t, i), flag = i < t.n ? t.flag[i] : 1;
      t.line.textContent = text;
      t.line.classList.toggle('marked', flag !== 0);
      t.row.classList.toggle('active', k === active && tracks.length > 1);
      if (k === active) {
        if (tracks.length > 1) $('active').textContent = t.name;
        readout.textContent = text;
        readout.classList.toggle('marked', flag !== 0);
      }
      t.dot.style.display = flag === 1 ? 'none' : '';
      if (flag === 1) return;
      var x = t.x[i], y = H - t.y[i];
      var cx = Math.min(Math.max(x, left), right), cy = Math.min(Math.max(y, top), bottom);
      var out = flag === 2 || cx !== x || cy !== y;  // behind, or held at the edge
      t.dot.setAttribute('cx', cx); t.dot.setAttribute('cy', cy);
      t.dot.setAttribute('fill', out ? 'none' : t.colour);
      t.dot.setAttribute('stroke', flag === 2 ? '#ff5a4e' : out ? t.colour : '#fff');
    });
    if (remember) {
      try { history.replaceState(null, '', '#frame=' + frameText(i)); } catch (e) { }
    }
  }

  // #frame=N: the track's frame N (the nearest one the run has).
  function fromAddress() {
    var m = /^#(?:.*&)?frame=([^&]+)/.exec(location.hash), n = NaN;
    try { if (m) n = Number(decodeURIComponent(m[1])); } catch (e) { }
    if (!isFinite(n)) return false;
    pause();
    show(Math.round(n - start), false);
    return true;
  }

  // Playing: frame i0 + k at k / fps seconds after t0, found again at each
  // timer so late timers skip frames and the rate stays the scene's.
  var playing = false, t0 = 0, i0 = 0, timer = 0;
  function tick() {
    var elapsed = performance.now() - t0, k = Math.floor(elapsed * fps / 1000);
    var i = (i0 + k) % count;
    if (i !== current) show(i, false);
    timer = setTimeout(tick, Math.max(1, (k + 1) * 1000 / fps - elapsed));
  }
  function pause() {
    if (!playing) return;
    playing = false;
    clearTimeout(timer);
    play.textContent = 'Play';
    show(current, true);
  }
  function toggle() {
    if (playing || count < 2) return pause();
    playing = true;
    play.textContent = 'Pause';
    i0 = current === count - 1 ? 0 : current;
    t0 = performance.now();
    tick();
  }
  function go(i) { pause(); show(i, true); }

  slider.max = Math.max(count - 1, 0);
  slider.addEventListener('input', function () { go(Number(slider.value)); });
  play.addEventListener('click', toggle);
  document.addEventListener('keydown', function (e) {
    if (e.altKey || e.ctrlKey || e.metaKey) return;
    var t = e.target;
    if (e.key === 'ArrowLeft' || e.key === 'ArrowRight') {
      go(current + (e.key === 'ArrowLeft' ? -1 : 1) * (e.shiftKey ? 10 : 1));
    } else if (e.key === 'Home') {
      go(0);
    } else if (e.key === 'End') {
      go(count - 1);
    } else if (e.key === ' ' && !(t.tagName === 'BUTTON' || t.type === 'checkbox')) {
      toggle();
    } else {
      return;
    }
    e.preventDefault();
  });
  window.addEventListener('hashchange', fromAddress);
  if (!fromAddress()) show(0, false);
})();
