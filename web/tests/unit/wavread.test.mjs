// WAV files read as `quorvel render` reads them: whole numbers over
// 2^(bits - 1), 8 bits from 128, doubles rounded to floats, floats as their
// bits; the extensible header; anything else left to the browser.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { encodeWav, readWavSamples } from '../../src/wav.js';

// A WAV file with one channel of raw sample bytes.
function wav(tag, bits, bytes, { extensible = false, rate = 8000 } = {}) {
  const fmtSize = extensible ? 40 : 16;
  const head = new DataView(new ArrayBuffer(12 + 8 + fmtSize + 8));
  const text = (at, value) => [...value].forEach((c, i) => head.setUint8(at + i, c.charCodeAt(0)));
  text(0, 'RIFF');
  head.setUint32(4, head.byteLength - 8 + bytes.length, true);
  text(8, 'WAVEfmt ');
  head.setUint32(16, fmtSize, true);
  head.setUint16(20, extensible ? 0xfffe : tag, true);
  head.setUint16(22, 1, true);
  head.setUint32(24, rate, true);
  head.setUint16(34, bits, true);
  if (extensible) head.setUint16(20 + 24, tag, true); // the subformat
  text(20 + fmtSize, 'data');
  head.setUint32(24 + fmtSize, bytes.length, true);
  const file = new Uint8Array(head.byteLength + bytes.length);
  file.set(new Uint8Array(head.buffer));
  file.set(bytes, head.byteLength);
  return file.buffer;
}

const le = (values, width, signed = true) => {
  const bytes = new Uint8Array(values.length * width);
  const view = new DataView(bytes.buffer);
  values.forEach((value, i) => {
    if (width === 1) view.setUint8(i, value);
    else if (width === 2) view.setInt16(i * 2, value, true);
    else if (width === 3) [0, 1, 2].forEach((b) => view.setUint8(i * 3 + b, (value >> (8 * b)) & 0xff));
    else if (signed) view.setInt32(i * 4, value, true);
  });
  return bytes;
};

test('whole-number samples are scaled by 2^(bits - 1), from 128 for 8 bits', () => {
  for (const [bits, raw, expected, extensible] of [
    [8, [0, 128, 255, 1], [-1, 0, 127 / 128, -127 / 128]],
    [16, [-32768, 32767, 1, -1], [-1, 32767 / 32768, 1 / 32768, -1 / 32768]],
    [24, [-8388608, 8388607, 172, -2], [-1, 8388607 / 8388608, 172 / 8388608, -2 / 8388608], true],
    // 32 bits: rounded to a float first, as the native reader does.
    [32, [2147483647, -2147483648, 16777217, 3], [1, -1, 16777216 / 2147483648, 3 / 2147483648]],
  ]) {
    const { rate, channels } = readWavSamples(wav(1, bits, le(raw, bits / 8), { extensible }));
    assert.equal(rate, 8000);
    assert.deepEqual(channels[0], Float32Array.from(expected), `${bits} bits`);
  }
});

test('float samples keep their bits; doubles are rounded to the nearest float', () => {
  const words = Uint32Array.of(0x7fc00001, 0x00000001, 0xbf800000);
  const floats = readWavSamples(encodeWav([new Float32Array(words.buffer)], 44100));
  assert.deepEqual([...new Uint32Array(floats.channels[0].buffer)], [...words]);
  const doubles = Float64Array.of(0.1, 1e300, -1 / 3);
  const { channels } = readWavSamples(wav(3, 64, new Uint8Array(doubles.buffer)));
  assert.deepEqual(channels[0], Float32Array.of(0.1, Infinity, -1 / 3));
});

test('what is not plain WAV is left to the browser', () => {
  assert.equal(readWavSamples(new Uint8Array(40).buffer), null);
  assert.equal(readWavSamples(new TextEncoder().encode('ID3 and an mp3 after it').buffer), null);
  assert.equal(readWavSamples(wav(2, 4, new Uint8Array(8))), null); // ADPCM
  assert.equal(readWavSamples(wav(1, 12, new Uint8Array(8))), null);
});
