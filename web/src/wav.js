// WAV files of 32-bit float samples, channels interleaved: the layout
// `quorvel render -o` writes (format 3, a fact chunk, then the data). The
// page writes its renders this way; the tests read the native renders back.

const FLOAT_FORMAT = 3;

// The file holding `channels` (Float32Arrays of one length) at `rate` Hz.
export function encodeWav(channels, rate) {
  const count = channels.length;
  const frames = channels[0]?.length ?? 0;
  const dataBytes = frames * count * 4;
  const buffer = new ArrayBuffer(12 + 24 + 12 + 8 + dataBytes);
  const view = new DataView(buffer);
  let at = 0;
  const tag = (text) => {
    for (let i = 0; i < 4; i++) view.setUint8(at++, text.charCodeAt(i));
  };
  const u32 = (value) => {
    view.setUint32(at, value, true);
    at += 4;
  };
  const u16 = (value) => {
    view.setUint16(at, value, true);
    at += 2;
  };
  tag('RIFF');
  u32(buffer.byteLength - 8);
  tag('WAVE');
  tag('fmt ');
  u32(16);
  u16(FLOAT_FORMAT);
  u16(count);
  u32(rate);
  u32(rate * count * 4);
  u16(count * 4);
  u16(32);
  tag('fact');
  u32(4);
  u32(frames);
  tag('data');
  u32(dataBytes);
  // Samples are moved as 32-bit words: a float read into a JavaScript
  // number may lose a NaN's payload. (Every browser is little-endian.)
  const words = new Uint32Array(buffer, at, frames * count);
  const sources = channels.map((channel) => wordsOf(channel));
  for (let i = 0; i < frames; i++) for (let k = 0; k < count; k++) words[i * count + k] = sources[k][i];
  return buffer;
}

// {rate, channels} from a float WAV file; throws on anything else.
export function decodeWav(buffer) {
  const view = new DataView(buffer instanceof ArrayBuffer ? buffer : buffer.buffer, buffer.byteOffset ?? 0, buffer.byteLength);
  const tagAt = (at) => String.fromCharCode(...[0, 1, 2, 3].map((i) => view.getUint8(at + i)));
  if (view.byteLength < 12 || tagAt(0) !== 'RIFF' || tagAt(8) !== 'WAVE') throw new Error('not a WAV file');
  let format = null;
  for (let at = 12; at + 8 <= view.byteLength; ) {
    const id = tagAt(at);
    const size = view.getUint32(at + 4, true);
    const body = at + 8;
    if (id === 'fmt ') {
      format = { tag: view.getUint16(body, true), count: view.getUint16(body + 2, true), rate: view.getUint32(body + 4, true), bits: view.getUint16(body + 14, true) };
    } else if (id === 'data') {
      if (!format || format.tag !== FLOAT_FORMAT || format.bits !== 32) throw new Error('not a 32-bit float WAV file');
      const frames = Math.floor(Math.min(size, view.byteLength - body) / (4 * format.count));
      const bytes = new Uint8Array(view.buffer, view.byteOffset + body, frames * format.count * 4).slice();
      const words = new Uint32Array(bytes.buffer);
      const channels = Array.from({ length: format.count }, () => new Float32Array(frames));
      const targets = channels.map((channel) => wordsOf(channel));
      for (let i = 0; i < frames; i++) for (let k = 0; k < format.count; k++) targets[k][i] = words[i * format.count + k];
      return { rate: format.rate, channels };
    }
    at = body + size + (size & 1);
  }
  throw new Error('the WAV file has no data');
}

function wordsOf(floats) {
  return new Uint32Array(floats.buffer, floats.byteOffset, floats.length);
}

// The samples of a WAV file in PCM (8, 16, 24 or 32 bits) or float (32 or
// 64 bits), plain or extensible, converted as `quorvel render` reads them:
// a whole number over 2^(bits - 1) (8 bits unsigned, from 128), a double
// rounded to the nearest float, a float as it is. {rate, channels}, or null
// for anything else, which the browser's decoder may still read.
export function readWavSamples(buffer) {
  const view = new DataView(buffer instanceof ArrayBuffer ? buffer : buffer.buffer, buffer.byteOffset ?? 0, buffer.byteLength);
  const tagAt = (at) => String.fromCharCode(...[0, 1, 2, 3].map((i) => view.getUint8(at + i)));
  if (view.byteLength < 12 || tagAt(0) !== 'RIFF' || tagAt(8) !== 'WAVE') return null;
  let format = null;
  for (let at = 12; at + 8 <= view.byteLength; ) {
    const id = tagAt(at);
    const size = view.getUint32(at + 4, true);
    const body = at + 8;
    if (id === 'fmt ' && size >= 16) {
      let tag = view.getUint16(body, true);
      if (tag === 0xfffe && size >= 26) tag = view.getUint16(body + 24, true);
      format = { tag, count: view.getUint16(body + 2, true), rate: view.getUint32(body + 4, true), bits: view.getUint16(body + 14, true) };
    } else if (id === 'data') {
      const read = format && sampleReader(format, view);
      if (!read || format.count < 1) return null;
      const width = format.bits / 8;
      const frames = Math.floor(Math.min(size, view.byteLength - body) / (width * format.count));
      const channels = Array.from({ length: format.count }, () => new Float32Array(frames));
      // Floats are moved as words, so that a NaN keeps its payload.
      const targets = format.tag === FLOAT_FORMAT && format.bits === 32 ? channels.map(wordsOf) : channels;
      for (let i = 0; i < frames; i++)
        for (let k = 0; k < format.count; k++) targets[k][i] = read(body + (i * format.count + k) * width);
      return { rate: format.rate, channels };
    }
    at = body + size + (size & 1);
  }
  return null;
}

// Reads one sample at a byte offset, or null for an encoding not handled.
function sampleReader({ tag, bits }, view) {
  if (tag === 1 && bits === 8) return (at) => (view.getUint8(at) - 128) / 128;
  if (tag === 1 && bits === 16) return (at) => view.getInt16(at, true) / 32768;
  if (tag === 1 && bits === 24) return (at) => ((view.getInt8(at + 2) << 16) | view.getUint16(at, true)) / 8388608;
  if (tag === 1 && bits === 32) return (at) => Math.fround(view.getInt32(at, true)) / 2147483648;
  if (tag === FLOAT_FORMAT && bits === 32) return (at) => view.getUint32(at, true);
  if (tag === FLOAT_FORMAT && bits === 64) return (at) => view.getFloat64(at, true);
  return null;
}
