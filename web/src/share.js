// A patch in a link: both texts and the six input settings, as JSON in
// the URL's fragment ("#p=" and base64url of its UTF-8), so the page that
// opens it needs nothing but itself. Whatever a link holds is checked
// before the page uses any of it. A file, a capture device or keys cannot
// travel in a link: it names them, and they are silent where it opens
// until the musician chooses them again.
import { decodeUtf8, encodeUtf8 } from './utf8.js';
import { defaultInput, FILE, normalizeInput, OUTSIDE } from './sources.js';

const PREFIX = '#p=';
const VERSION = 1;
// Longest fragment the page reads; a text beyond the editor's limit could
// not be played anyway.
export const MAX_LINK_CHARS = 2_000_000;

export function encodePatch({ expr, init, inputs }) {
  const json = JSON.stringify({ v: VERSION, expr, init, inputs });
  return PREFIX + base64url(encodeUtf8(json));
}

// {patch} with texts and inputCount normalised inputs, {error} with a
// sentence for the person, or {} when the fragment holds no patch; with a
// patch, a warning when settings were reset and a note when some inputs'
// sources stayed behind (`names`: the inputs' names, for the note).
export function decodePatch(hash, inputCount, names = null) {
  if (typeof hash !== 'string' || !hash.startsWith(PREFIX)) return {};
  if (hash.length > MAX_LINK_CHARS) return { error: 'This link is too long to be a patch.' };
  const bytes = fromBase64url(hash.slice(PREFIX.length));
  if (!bytes) return { error: 'This link is damaged: its patch is not readable.' };
  let data;
  try {
    data = JSON.parse(decodeUtf8(bytes));
  } catch {
    return { error: 'This link is damaged: its patch is not readable.' };
  }
  if (!data || typeof data !== 'object' || data.v !== VERSION)
    return { error: 'This link was made by another version of the playground.' };
  if (typeof data.expr !== 'string' || typeof data.init !== 'string')
    return { error: 'This link is damaged: its texts are missing.' };
  const given = Array.isArray(data.inputs) ? data.inputs : [];
  const inputs = Array.from({ length: inputCount }, (_, k) => normalizeInput(given[k]) ?? defaultInput());
  const lost = given.slice(0, inputCount).some((setting) => normalizeInput(setting) === null);
  const patch = { expr: data.expr, init: data.init, inputs };
  const result = { patch };
  if (lost) result.warning = 'Some input settings in this link were not readable and were reset.';
  const note = outsideNote(inputs, names);
  if (note) result.note = note;
  return result;
}

// What a link could not bring, or null: "u (the file drums.wav) and v (the
// microphone) …".
export function outsideNote(inputs, names) {
  const missing = inputs
    .map((setting, k) => ({ setting, name: names?.[k] ?? `input ${k + 1}` }))
    .filter(({ setting }) => OUTSIDE.includes(setting.kind))
    .map(({ setting, name }) => `${name} (${setting.kind === FILE ? `the file ${setting.name || 'without a name'}` : `the ${setting.kind}`})`);
  if (missing.length === 0) return null;
  const list = missing.length === 1 ? missing[0] : `${missing.slice(0, -1).join(', ')} and ${missing.at(-1)}`;
  const verb = missing.length === 1 ? 'is' : 'are';
  return `A link cannot carry a file, a microphone or keys: ${list} ${verb} silent here until you choose or play them again.`;
}

const ALPHABET = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';

function base64url(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 3) {
    const chunk = (bytes[i] << 16) | ((bytes[i + 1] ?? 0) << 8) | (bytes[i + 2] ?? 0);
    const count = Math.min(4, Math.ceil(((bytes.length - i) * 8) / 6));
    for (let k = 0; k < count; k++) text += ALPHABET[(chunk >> (18 - 6 * k)) & 63];
  }
  return text;
}

// Null for anything but base64url.
function fromBase64url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) return null;
  const bytes = new Uint8Array(Math.floor((text.length * 6) / 8));
  let bits = 0;
  let value = 0;
  let at = 0;
  for (const char of text) {
    value = ((value << 6) | ALPHABET.indexOf(char)) & 0xffff;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes[at++] = (value >> bits) & 0xff;
    }
  }
  return bytes;
}
