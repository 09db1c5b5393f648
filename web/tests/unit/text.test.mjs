// UTF-8 by hand (the worklet has no TextEncoder) against the platform's,
// and the byte-to-editor offset mapping the underline depends on.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { decodeUtf8, encodeUtf8, utf16Index, utf8Length } from '../../src/utf8.js';

const TEXTS = ['', 'out1 = u;', 'é', '€ < x > ', '🎹 piano', 'a\u0000b', '\ud800 lone high', 'lone low \udc00', '\udbff\udfff', 'ü🎹€x'];

for (const text of TEXTS)
  test(`UTF-8 as the platform encodes it: ${JSON.stringify(text)}`, () => {
    const expected = new TextEncoder().encode(text);
    assert.deepEqual(encodeUtf8(text), expected);
    assert.equal(utf8Length(text), expected.length);
    assert.equal(decodeUtf8(expected), new TextDecoder().decode(expected));
  });

test('malformed UTF-8 decodes as the platform decodes it', () => {
  const cases = [[0xff], [0xc0, 0x80], [0xe2, 0x82], [0xe2, 0x82, 0x41], [0xed, 0xa0, 0x80], [0xf4, 0x90, 0x80, 0x80], [0xf0, 0x9f, 0x8e], [0x61, 0x80, 0x62]];
  for (const bytes of cases)
    assert.equal(decodeUtf8(Uint8Array.from(bytes)), new TextDecoder().decode(Uint8Array.from(bytes)), JSON.stringify(bytes));
});

test('each byte offset maps to the UTF-16 index of the character it falls in', () => {
  const text = 'aé🎹b';
  // bytes: a | é é | 🎹 🎹 🎹 🎹 | b
  const expected = [0, 1, 1, 2, 2, 2, 2, 4, 5, 5];
  assert.deepEqual(expected.map((_, offset) => utf16Index(text, offset)), expected);
});
