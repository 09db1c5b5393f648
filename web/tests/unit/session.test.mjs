// The page's helpers for a musician's session, under Node: which lines
// differ from the playing text, what a text names and where its code
// starts, typed numbers, kinds' defaults and ranges, the variables list's
// order, the meters and limiter of the worklet, the plots' axis labels, and
// the gallery's input settings.
import assert from 'node:assert/strict';
import path from 'node:path';
import { test } from 'node:test';
import { axisLabel, axisSize } from '../../src/axis.js';
import { commitNumber, parseNumber } from '../../src/entry.js';
import { differingLines } from '../../src/marks.js';
import { FULL_SCALE, Limiter, OutputMeter } from '../../src/meter.js';
import { codeStart, namesIn } from '../../src/names.js';
import { KINDS, readsRange, settingForKind } from '../../src/sources.js';
import { watchRows } from '../../src/watch.js';
import { gallery } from '../../tools/gallery.mjs';
import { repo } from '../support/browser.mjs';

test('the lines that differ from the playing text: added, changed, removed', () => {
  const playing = 'a;\nb;\nc;\nd;';
  for (const [text, changed, removedBefore] of [
    [playing, [], []],
    ['a;\nb;\nX;\nd;', [3], [3]],
    ['a;\nb;\nc;\nd;\ne;', [5], []],
    ['new;\na;\nb;\nc;\nd;', [1], []],
    ['a;\nd;', [], [2]],
    ['a;\nb;\nc;', [], [4]],
    ['', [1], [1]],
  ])
    assert.deepEqual(differingLines(text, playing), { changed, removedBefore }, JSON.stringify(text));
  // Beyond what is compared line by line, the whole middle is marked.
  const long = Array.from({ length: 600 }, (_, i) => `x${i};`).join('\n');
  assert.equal(differingLines(long, long.replace('x0;', 'y;').replace('x599;', 'z;')).changed.length, 600);
});

test('what a text names, outside comments and calls, and where its code starts', () => {
  assert.deepEqual(namesIn('< u v <w> x > out1 = sin(y) + foo (3) * z1; lp = lp + time;'), ['out1', 'y', 'z1', 'lp', 'time']);
  assert.deepEqual(namesIn('< 🎹 > a = 1;'), ['a']);
  for (const [text, at] of [['out1 = 1;', 0], ['  < a <nested> comment >\n\n  out1 = 1;', 28], ['< only >', 8], ['', 0], ['< 🎹 > b;', 7]])
    assert.equal(codeStart(text), at, JSON.stringify(text));
});

test('a typed number is read as typed, and checked only when committed', () => {
  for (const [text, value] of [['0.5', 0.5], ['.5', 0.5], ['5.', 5], ['0,5', 0.5], [' -2 ', -2], ['1e3', 1000], ['0', 0]]) assert.equal(parseNumber(text), value, text);
  for (const text of ['', '.', '-', 'abc', '1.2.3', '0x10', 'Infinity', '1e999']) assert.equal(parseNumber(text), null, text);
  assert.deepEqual(commitNumber('0.5', [0.01, 20000]), { value: 0.5, clamped: false });
  assert.deepEqual(commitNumber('0.001', [0.01, 20000]), { value: 0.01, clamped: true });
  assert.deepEqual(commitNumber('99999', [0.01, 20000]), { value: 20000, clamped: true });
  assert.match(commitNumber('0.', [0.01, 20000]).error ?? 'parsed', /parsed/);
  assert.match(commitNumber('x', [-1, 1]).error, /number from -1 to 1/);
});

test('a new kind takes usable defaults, and each kind says the range the text reads', () => {
  const silent = { kind: 'constant', level: 0, freq: 220 };
  assert.deepEqual(settingForKind(silent, 'gate'), { kind: 'gate', level: 1, freq: 2 });
  assert.deepEqual(settingForKind(silent, 'clock'), { kind: 'clock', level: 1, freq: 4 });
  // A level already set is kept; a pitch is not taken for a rate.
  assert.deepEqual(settingForKind({ kind: 'sine', level: 0.3, freq: 440 }, 'clock'), { kind: 'clock', level: 0.3, freq: 4 });
  assert.deepEqual(settingForKind({ kind: 'sine', level: 0.3, freq: 440 }, 'square'), { kind: 'square', level: 0.3, freq: 440 });
  assert.deepEqual(settingForKind({ kind: 'gate', level: 1, freq: 2 }, 'saw'), { kind: 'saw', level: 1, freq: 220 });
  for (const kind of KINDS) assert.ok(settingForKind(silent, kind).level !== 0 || kind === 'constant', kind);
  assert.deepEqual(readsRange({ kind: 'gate', level: 0.5 }), [0, 5]);
  assert.deepEqual(readsRange({ kind: 'clock', level: -0.5 }), [-5, 0]);
  assert.deepEqual(readsRange({ kind: 'saw', level: -0.5 }), [-5, 5]);
  assert.deepEqual(readsRange({ kind: 'constant', level: 0.25 }), [2.5, 2.5]);
});

test('the variables list: pins first, then the playing texts, then earlier ones', () => {
  const names = ['a', 'freq', 'out1', 'out2', 'phase', 'u', 'v'];
  const rows = watchRows(names, ['u', 'v', 'out1', 'out2'], ['phase', 'out1', 'freq', 'time']);
  assert.deepEqual(
    rows.map(({ name, group }) => `${name}:${group}`),
    ['u:pin', 'v:pin', 'out1:pin', 'out2:pin', 'freq:playing', 'phase:playing', 'a:earlier'],
  );
  assert.ok(rows.every(({ name, index }) => names[index] === name));
});

test('the meter counts NaN, infinities and samples beyond full scale per output', () => {
  const meter = new OutputMeter(2);
  meter.count(0, Float32Array.from([0, NaN, Infinity, -Infinity, 1, -1, 1.5, -2]), 8);
  meter.count(1, Float32Array.from([0.5, 0.25]), 2);
  assert.deepEqual([...meter.nonFinite, ...meter.over], [3, 0, 2, 0]);
  meter.reset();
  assert.deepEqual([...meter.nonFinite, ...meter.over], [0, 0, 0, 0]);
});

test('the limiter keeps every sample within full scale, silences NaN, and leaves quiet sound alone', () => {
  const rate = 48000;
  const limiter = new Limiter(2, rate);
  const loud = Float32Array.from({ length: rate }, (_, i) => 10 * Math.sin((2 * Math.PI * 220 * i) / rate));
  loud[100] = NaN;
  loud[200] = Infinity;
  const out = new Float32Array(rate);
  limiter.process(0, loud, out, rate);
  assert.ok(out.every((v) => Number.isFinite(v) && Math.abs(v) <= FULL_SCALE), 'a sample beyond full scale got through');
  assert.equal(out[100], 0);
  assert.ok(Math.max(...out) > 0.9, 'the limited sound should still be near full scale');
  assert.ok(limiter.acted[0] > rate / 2);
  const quiet = Float32Array.from({ length: 4800 }, (_, i) => 0.9 * Math.sin((2 * Math.PI * 220 * i) / rate));
  const through = new Float32Array(4800);
  limiter.process(1, quiet, through, 4800);
  assert.deepEqual(through, quiet);
  assert.equal(limiter.acted[1], 0);
  limiter.reset();
  assert.deepEqual([...limiter.gain, ...limiter.acted], [1, 1, 0, 0]);
});

test('value axis labels stay short, and the axis makes room for the longest', () => {
  assert.deepEqual([1e8, -2e8, 1.25e8, 12345, 0.5, -1, 0, -120, 1e-4].map(axisLabel), ['1e8', '-2e8', '1.25e8', '1.23e4', '0.5', '-1', '0', '-120', '1e-4']);
  assert.equal(axisSize(null, ['1', '0']), 50);
  assert.ok(axisSize(null, ['-1.25e8']) > 50);
});

test('every gallery entry that names an input sets it', () => {
  const patches = gallery(path.join(repo, 'examples'), path.join(repo, 'docs/language.md'), path.join(repo, 'web/gallery-inputs.json'));
  const pins = ['u', 'v', 'w', 'x', 'y', 'z'];
  for (const patch of patches) {
    const named = [...namesIn(patch.expr), ...namesIn(patch.init)].filter((name) => pins.includes(name));
    for (const pin of named) assert.ok(patch.needs?.[pin], `${patch.id} reads ${pin} but sets no input for it`);
    for (const pin of Object.keys(patch.needs ?? {})) assert.ok(pins.includes(pin), `${patch.id}: ${pin} is no input`);
  }
  assert.ok(patches.find((patch) => patch.id === 'recipe:sample-and-hold').needs.v);
  assert.throws(() => gallery(path.join(repo, 'examples'), path.join(repo, 'docs/language.md'), '/dev/null'));
});
