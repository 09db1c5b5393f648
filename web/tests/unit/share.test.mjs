// Links that carry a patch, and links that carry garbage.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { decodePatch, encodePatch, MAX_LINK_CHARS } from '../../src/share.js';
import { defaultInput } from '../../src/sources.js';

const INPUTS = [
  { kind: 'sine', level: 0.25, freq: 440 },
  { kind: 'clock', level: -1, freq: 0.5 },
  ...Array.from({ length: 4 }, defaultInput),
];

test('a link restores both texts and every input exactly', () => {
  const patch = { expr: 'out1 = u; < ünïcödé 🎹 >\n', init: 'seed = 5;', inputs: INPUTS };
  const hash = encodePatch(patch);
  assert.match(hash, /^#p=[A-Za-z0-9_-]+$/);
  assert.deepEqual(decodePatch(hash, 6), { patch });
});

const json = (value) => encodePatch({}).slice(0, 3) + Buffer.from(JSON.stringify(value)).toString('base64url');

// What a damaged or foreign link gives: a sentence, never an exception.
const GARBAGE = [
  ['#p=%%%', /damaged/],
  ['#p=a', /damaged/],
  ['#p=' + Buffer.from('{"v":1,').toString('base64url'), /damaged/],
  [json(null), /another version/],
  [json([1, 2]), /another version/],
  [json({ v: 2, expr: '', init: '' }), /another version/],
  [json({ v: 1, expr: 5, init: '' }), /texts are missing/],
  [json({ v: 1, expr: 'out1 = 1;' }), /texts are missing/],
  ['#p=' + 'A'.repeat(MAX_LINK_CHARS), /too long/],
];

for (const [hash, message] of GARBAGE)
  test(`a bad link gives a message: ${hash.slice(0, 40)}`, () => {
    const result = decodePatch(hash, 6);
    assert.equal(result.patch, undefined);
    assert.match(result.error, message);
  });

test('input settings that make no sense are reset or brought into range, with a warning', () => {
  const inputs = [{ kind: 'sine', level: 7, freq: -3 }, { kind: 'laser' }, 'x', { kind: 'noise', level: 'loud', freq: null }];
  const { patch, warning } = decodePatch(json({ v: 1, expr: 'a;', init: '', inputs }), 6);
  assert.deepEqual(patch.inputs.slice(0, 4), [
    { kind: 'sine', level: 1, freq: 0.01 },
    defaultInput(),
    defaultInput(),
    { kind: 'noise', level: 0, freq: 220 },
  ]);
  assert.equal(patch.inputs.length, 6);
  assert.match(warning, /reset/);
});

test('no fragment, or another one, holds no patch', () => {
  assert.deepEqual(decodePatch('', 6), {});
  assert.deepEqual(decodePatch('#section', 6), {});
  assert.deepEqual(decodePatch(undefined, 6), {});
});

test('random fragments never throw', () => {
  let state = 1;
  const next = () => (state = (state * 1103515245 + 12345) % 2147483648);
  for (let n = 0; n < 2000; n++) {
    const length = next() % 60;
    const text = Array.from({ length }, () => String.fromCharCode(next() % 128)).join('');
    assert.doesNotThrow(() => decodePatch(`#p=${text}`, 6));
  }
});

test('a link names the file, the microphone and the keys it cannot carry, with a note', () => {
  const inputs = [
    { kind: 'file', level: 1, freq: 220, name: 'drums.wav', channel: 1 },
    { kind: 'microphone', level: 0.5, freq: 220 },
    { kind: 'key pitch', level: 0, freq: 220 },
    ...Array.from({ length: 3 }, defaultInput),
  ];
  const names = ['u', 'v', 'w', 'x', 'y', 'z'];
  const { patch, note, warning } = decodePatch(encodePatch({ expr: 'out1 = u;', init: '', inputs }), 6, names);
  assert.deepEqual(patch.inputs, inputs);
  assert.equal(warning, undefined);
  assert.match(note, /u \(the file drums\.wav\), v \(the microphone\) and w \(the key pitch\) are silent here/);
  assert.equal(decodePatch(encodePatch({ expr: '', init: '', inputs: INPUTS }), 6, names).note, undefined);
});
