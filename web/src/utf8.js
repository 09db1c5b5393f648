// UTF-8 by hand: the audio worklet's scope has no TextEncoder or
// TextDecoder, and the engine reports places as byte offsets while the
// editor counts UTF-16 code units.

// The UTF-8 bytes of a string; a lone surrogate becomes U+FFFD, as
// TextEncoder does.
export function encodeUtf8(text) {
  const bytes = new Uint8Array(utf8Length(text));
  let at = 0;
  for (let i = 0; i < text.length; i++) {
    const point = codePointAt(text, i);
    if (point > 0xffff) i++;
    at = putCodePoint(bytes, at, point);
  }
  return bytes;
}

// The number of UTF-8 bytes the string encodes to.
export function utf8Length(text) {
  let length = 0;
  for (let i = 0; i < text.length; i++) {
    const point = codePointAt(text, i);
    if (point > 0xffff) i++;
    length += pointBytes(point);
  }
  return length;
}

// The string held by bytes[from, to); malformed sequences become U+FFFD.
export function decodeUtf8(bytes, from = 0, to = bytes.length) {
  let text = '';
  for (let i = from; i < to; ) {
    const [point, size] = readCodePoint(bytes, i, to);
    text += String.fromCodePoint(point);
    i += size;
  }
  return text;
}

// The UTF-16 index in text of the character that starts at byte offset
// `offset` of its UTF-8 form (an offset inside a character gives that
// character's start; one past the end gives text.length).
export function utf16Index(text, offset) {
  let bytes = 0;
  for (let i = 0; i < text.length; i++) {
    const point = codePointAt(text, i);
    const size = pointBytes(point);
    if (bytes + size > offset) return i;
    bytes += size;
    if (point > 0xffff) i++;
  }
  return text.length;
}

function codePointAt(text, i) {
  const unit = text.charCodeAt(i);
  if (unit >= 0xd800 && unit <= 0xdbff && i + 1 < text.length) {
    const next = text.charCodeAt(i + 1);
    if (next >= 0xdc00 && next <= 0xdfff) return 0x10000 + ((unit - 0xd800) << 10) + (next - 0xdc00);
  }
  return unit >= 0xd800 && unit <= 0xdfff ? 0xfffd : unit;
}

function pointBytes(point) {
  return point < 0x80 ? 1 : point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
}

function putCodePoint(bytes, at, point) {
  const size = pointBytes(point);
  if (size === 1) {
    bytes[at] = point;
    return at + 1;
  }
  const lead = [0, 0, 0xc0, 0xe0, 0xf0][size];
  bytes[at] = lead | (point >> (6 * (size - 1)));
  for (let k = 1; k < size; k++) bytes[at + k] = 0x80 | ((point >> (6 * (size - 1 - k))) & 0x3f);
  return at + size;
}

// The code point at bytes[i] and the bytes it takes; a malformed sequence
// gives U+FFFD for its longest valid start, as the WHATWG decoder does.
function readCodePoint(bytes, i, to) {
  const lead = bytes[i];
  if (lead < 0x80) return [lead, 1];
  const size = lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3 : lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
  if (size === 0) return [0xfffd, 1];
  // The second byte's range excludes overlong forms, surrogates and points past U+10FFFF.
  const low = lead === 0xe0 ? 0xa0 : lead === 0xf0 ? 0x90 : 0x80;
  const high = lead === 0xed ? 0x9f : lead === 0xf4 ? 0x8f : 0xbf;
  let point = lead & (0xff >> (size + 1));
  for (let k = 1; k < size; k++) {
    const next = i + k < to ? bytes[i + k] : -1;
    if (next < (k === 1 ? low : 0x80) || next > (k === 1 ? high : 0xbf)) return [0xfffd, k];
    point = (point << 6) | (next & 0x3f);
  }
  return [point, size];
}
