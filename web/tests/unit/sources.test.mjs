// The input sources' signals: levels, rates and duty as the page promises.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { InputSource, KINDS } from '../../src/sources.js';

const RATE = 48000;

function second(setting, seed = 1) {
  const buffer = new Float32Array(RATE);
  new InputSource(setting, RATE, seed).fill(buffer, RATE);
  return buffer;
}

const risingEdges = (signal) => signal.reduce((count, value, i) => count + (i > 0 && signal[i - 1] <= 0 && value > 0 ? 1 : 0), 0);

test('every kind stays within its level, and periodic ones repeat at their frequency', () => {
  for (const kind of KINDS) {
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
