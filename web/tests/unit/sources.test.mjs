// The input sources' signals: levels, rates and duty as the page promises.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { InputSource, KINDS, normalizeInput, OUTSIDE, settingForKind } from '../../src/sources.js';

const RATE = 48000;

function second(setting, seed = 1) {
  const buffer = new Float32Array(RATE);
  new InputSource(setting, RATE, seed).fill(buffer, RATE);
  return buffer;
}

const risingEdges = (signal) => signal.reduce((count, value, i) => count + (i > 0 && signal[i - 1] <= 0 && value > 0 ? 1 : 0), 0);

test('every kind stays within its level, and periodic ones repeat at their frequency', () => {
  for (const kind of KINDS.filter((kind) => !OUTSIDE.includes(kind))) {
    const signal = second({ kind, level: 0.5, freq: 100 });
    assert.ok(signal.every((value) => Math.abs(value) <= 0.5), kind);
    if (kind !== 'constant' && kind !== 'noise') assert.ok(Math.abs(risingEdges(signal) - 100) <= 1, `${kind}: ${risingEdges(signal)} edges`);
  }
});

test('a gate is high half the time and a clock for one millisecond per tick', () => {
  const high = (signal) => signal.filter((value) => value > 0).length;
  assert.ok(Math.abs(high(second({ kind: 'gate', level: 1, freq: 2 })) - RATE / 2) <= 1);
  assert.ok(Math.abs(high(second({ kind: 'clock', level: 1, freq: 4 })) - 4 * 48) <= 4);
  // A fast clock's ticks last half its period.
  assert.ok(Math.abs(high(second({ kind: 'clock', level: 1, freq: 2000 })) - RATE / 2) <= 1);
});

test('a constant is its level, and noise is repeatable per seed and centred', () => {
  assert.ok(second({ kind: 'constant', level: -0.25, freq: 1 }).every((value) => value === -0.25));
  const noise = second({ kind: 'noise', level: 1, freq: 1 }, 3);
  assert.deepEqual(noise, second({ kind: 'noise', level: 1, freq: 1 }, 3));
  assert.notDeepEqual(noise, second({ kind: 'noise', level: 1, freq: 1 }, 4));
  const mean = noise.reduce((sum, value) => sum + value, 0) / noise.length;
  assert.ok(Math.abs(mean) < 0.02, `mean ${mean}`);
});

test('a new setting keeps the phase, so a frequency change does not jump', () => {
  const source = new InputSource({ kind: 'saw', level: 1, freq: 100 }, RATE, 1);
  const first = new Float32Array(100);
  source.fill(first, 100);
  source.set({ kind: 'saw', level: 1, freq: 101 });
  const next = new Float32Array(1);
  source.fill(next, 1);
  assert.ok(Math.abs(next[0] - first[99]) < 0.01);
});

test('a file loops from its start at its gain, and is silent until its samples arrive', () => {
  const source = new InputSource({ kind: 'file', level: 1, freq: 1, name: 'a.wav', channel: 0 }, RATE, 1);
  const block = new Float32Array(5);
  source.fill(block, 5);
  assert.deepEqual([...block], [0, 0, 0, 0, 0]);
  const samples = Float32Array.of(0.1, -0.2, 0.3);
  source.attach(samples);
  source.fill(block, 5);
  assert.deepEqual(block, Float32Array.of(0.1, -0.2, 0.3, 0.1, -0.2));
  source.set({ kind: 'file', level: -0.5, name: 'a.wav' });
  source.fill(block, 2);
  assert.deepEqual(block.subarray(0, 2), Float32Array.of(-0.15, -0.05)); // on from where it was
  source.attach(null);
  source.fill(block, 5);
  assert.ok(block.every((value) => value === 0));
});

test('a capture device plays its live block at the gain, silence without one; keys play their levels', () => {
  const keys = { 'key pitch': 0.1, 'key gate': 0.5, 'key velocity': 0.25 };
  const block = new Float32Array(3);
  const microphone = new InputSource({ kind: 'microphone', level: 0.5 }, RATE, 1, keys);
  microphone.fill(block, 3, Float32Array.of(1, -1, 0.5));
  assert.deepEqual(block, Float32Array.of(0.5, -0.5, 0.25));
  microphone.fill(block, 3, null);
  assert.deepEqual(block, Float32Array.of(0, 0, 0));
  for (const kind of Object.keys(keys)) {
    new InputSource({ kind, level: 0 }, RATE, 1, keys).fill(block, 3);
    assert.ok(block.every((value) => value === Math.fround(keys[kind])), kind);
  }
});

test('a file keeps its name and channel in a setting; other kinds carry nothing more', () => {
  assert.deepEqual(normalizeInput({ kind: 'file', level: 2, freq: 1, name: 'drums.wav', channel: 1.2, data: [1] }), {
    kind: 'file',
    level: 1,
    freq: 1,
    name: 'drums.wav',
    channel: 1,
  });
  assert.deepEqual(normalizeInput({ kind: 'file', name: 7, channel: -3 }), { kind: 'file', level: 0, freq: 220, name: '', channel: 0 });
  assert.deepEqual(normalizeInput({ kind: 'key gate', level: 0.5, freq: 3, name: 'x' }), { kind: 'key gate', level: 0.5, freq: 3 });
});

test('a file or a capture device chosen starts at unity gain; a gain already set stays while the kind does', () => {
  for (const kind of ['file', 'microphone']) {
    assert.equal(settingForKind({ kind: 'sine', level: 0.3, freq: 440 }, kind).level, 1, kind);
    assert.equal(settingForKind({ kind, level: -0.4, freq: 220 }, kind).level, -0.4, kind);
  }
  // Leaving one, the gain is kept as a level, as any level set is.
  assert.deepEqual(settingForKind({ kind: 'microphone', level: 0.2, freq: 220 }, 'saw'), { kind: 'saw', level: 0.2, freq: 220 });
});
