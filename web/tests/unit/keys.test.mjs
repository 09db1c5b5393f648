// The keys as a voice hears them: the documented pitch, gate and velocity
// levels, last-note priority with legato, MIDI messages and the computer
// keyboard's layout.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { KEY_GATE, KEY_PITCH, KEY_VELOCITY, KeyState, keyboardNote, pitchLevel, ZERO_NOTE } from '../../src/keys.js';

// What the text reads: the pin's 32-bit sample times 10.
const reads = (level) => Math.fround(level) * 10;

test('one unit per octave, 0 at A4: the text reads (note - 69) / 12, and 440 * pow(2, u) is the note', () => {
  assert.equal(ZERO_NOTE, 69);
  for (const [note, octaves] of [[69, 0], [81, 1], [57, -1], [60, -0.75], [0, -5.75], [127, 58 / 12]]) {
    assert.ok(Math.abs(reads(pitchLevel(note)) - octaves) < 1e-6, `note ${note}`);
    const hz = 440 * 2 ** ((note - 69) / 12);
    assert.ok(Math.abs(440 * 2 ** reads(pitchLevel(note)) - hz) < hz * 1e-6, `note ${note}`);
  }
});

test('the last key held sets pitch and velocity; the gate stays high until every key is up', () => {
  const keys = new KeyState();
  const seen = () => {
    const levels = keys.levels();
    return [reads(levels[KEY_PITCH]), reads(levels[KEY_GATE]), reads(levels[KEY_VELOCITY])].map((v) => Math.round(v * 1000) / 1000);
  };
  assert.deepEqual(seen(), [0, 0, 0]);
  keys.press(81, 127);
  assert.deepEqual(seen(), [1, 5, 10]);
  keys.press(84, 64); // legato: the gate does not fall
  assert.deepEqual(seen(), [1.25, 5, 5.039]);
  keys.release(84); // back to the key still held, with its velocity
  assert.deepEqual(seen(), [1, 5, 10]);
  keys.press(57, 10);
  keys.release(81); // not the last: nothing moves
  assert.deepEqual(seen(), [-1, 5, 0.787]);
  keys.release(57); // the pitch holds while the gate falls
  assert.deepEqual(seen(), [-1, 0, 0.787]);
  keys.release(57);
  assert.deepEqual(seen(), [-1, 0, 0.787]);
});

test('MIDI note on, note off, note on at velocity 0 and all notes off, on any channel', () => {
  const keys = new KeyState();
  assert.equal(keys.midi([0x93, 72, 100]), true);
  assert.deepEqual([keys.note, keys.velocity, keys.held.length], [72, 100, 1]);
  assert.equal(keys.midi([0x93, 72, 0]), true);
  assert.equal(keys.held.length, 0);
  keys.midi([0x90, 60, 1]);
  keys.midi([0x90, 64, 1]);
  keys.midi([0x81, 64, 50]);
  assert.deepEqual([keys.note, keys.held.length], [60, 1]);
  keys.midi([0xb0, 123, 0]);
  assert.equal(keys.held.length, 0);
  assert.equal(keys.midi([0xe0, 0, 64]), false); // pitch bend: not a key
  assert.equal(keys.midi([0xf8]), false); // clock
});

test('the computer keyboard plays from C4 on the A key, an octave per Z or X', () => {
  assert.equal(keyboardNote('KeyA', 0), 60);
  assert.equal(keyboardNote('KeyW', 0), 61);
  assert.equal(keyboardNote('KeyK', 0), 72);
  assert.equal(keyboardNote('Semicolon', 0), 76);
  assert.equal(keyboardNote('KeyA', 1), 72);
  assert.equal(keyboardNote('KeyA', -5), 0);
  assert.equal(keyboardNote('KeyK', 5), null); // beyond MIDI's 127
  assert.equal(keyboardNote('KeyQ', 0), null);
});
