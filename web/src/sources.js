// What feeds the module's six inputs in the playground: a constant, an
// oscillator, noise, a gate or a clock, at a level in pin units (a sample
// value: the text reads it times 10); or the musician's own sound and keys:
// an audio file, the microphone, or the pitch, gate or velocity of the last
// key played. The one place that knows the kinds and their ranges; the
// worklet, the page and the shared link use it.
import { KEY_KINDS } from './keys.js';

// Sources whose signal comes from outside the page: a link names them but
// cannot carry them.
export const FILE = 'file';
export const MICROPHONE = 'microphone';
export const OUTSIDE = Object.freeze([FILE, MICROPHONE, ...KEY_KINDS]);
export const KINDS = Object.freeze(['constant', 'sine', 'saw', 'square', 'noise', 'gate', 'clock', ...OUTSIDE]);
// Kinds whose rate or frequency matters.
export const PERIODIC = Object.freeze(['sine', 'saw', 'square', 'gate', 'clock']);
export const LEVEL_RANGE = Object.freeze([-1, 1]);
export const FREQ_RANGE = Object.freeze([0.01, 20000]);
// A clock's pulse, in seconds; at most half its period.
const PULSE_SECONDS = 0.001;

export function defaultInput() {
  return { kind: 'constant', level: 0, freq: 220 };
}

// Longest file name a setting keeps.
const MAX_NAME = 200;
export const MAX_CHANNEL = 64;

// A setting made safe: a known kind, finite numbers inside their ranges; a
// file's name and channel (from 0) besides. Null when `setting` is not an
// object with a known kind.
export function normalizeInput(setting) {
  if (!setting || typeof setting !== 'object' || !KINDS.includes(setting.kind)) return null;
  const safe = {
    kind: setting.kind,
    level: clampNumber(setting.level, LEVEL_RANGE, 0),
    freq: clampNumber(setting.freq, FREQ_RANGE, 220),
  };
  if (safe.kind !== FILE) return safe;
  safe.name = typeof setting.name === 'string' ? setting.name.slice(0, MAX_NAME) : '';
  safe.channel = Math.round(clampNumber(setting.channel, [0, MAX_CHANNEL - 1], 0));
  return safe;
}

function clampNumber(value, [low, high], fallback) {
  const number = typeof value === 'number' ? value : Number.NaN;
  return Number.isFinite(number) ? Math.min(high, Math.max(low, number)) : fallback;
}

// One input's signal, sample by sample. Changing the setting keeps the
// phase, so a new frequency does not click. A file's samples (at the
// source's rate), the live block of a capture device and the keys' levels
// come from outside: without them the input is silent.
export class InputSource {
  constructor(setting, rate, seed, keys = null) {
    this.rate = rate;
    this.phase = 0;
    this.noise = seed >>> 0 || 1;
    this.samples = null;
    this.position = 0;
    this.keys = keys;
    this.set(setting);
  }

  set(setting) {
    this.setting = normalizeInput(setting) ?? defaultInput();
  }

  // The file's samples, looped from the start; null for none.
  attach(samples) {
    this.samples = samples?.length ? samples : null;
    this.position = 0;
  }

  // Writes `frames` samples into `buffer`; `live` is this block of the
  // capture device, or null.
  fill(buffer, frames, live = null) {
    const { kind, level, freq } = this.setting;
    if (kind === 'constant') {
      buffer.fill(level, 0, frames);
      return;
    }
    if (kind === FILE) return this.#fillFile(buffer, frames, level);
    if (kind === MICROPHONE) {
      if (!live) buffer.fill(0, 0, frames);
      else for (let i = 0; i < frames; i++) buffer[i] = level * live[i];
      return;
    }
    if (KEY_KINDS.includes(kind)) {
      buffer.fill(this.keys?.[kind] ?? 0, 0, frames);
      return;
    }
    if (kind === 'noise') {
      for (let i = 0; i < frames; i++) buffer[i] = level * this.#nextNoise();
      return;
    }
    const step = freq / this.rate;
    const pulse = Math.min(0.5, PULSE_SECONDS * freq);
    for (let i = 0; i < frames; i++) {
      buffer[i] = level * shape(kind, this.phase, pulse);
      this.phase += step;
      if (this.phase >= 1) this.phase -= Math.floor(this.phase);
    }
  }

  #fillFile(buffer, frames, gain) {
    const samples = this.samples;
    if (!samples) {
      buffer.fill(0, 0, frames);
      return;
    }
    let at = this.position;
    for (let i = 0; i < frames; i++) {
      buffer[i] = gain * samples[at];
      if (++at === samples.length) at = 0;
    }
    this.position = at;
  }

  // Uniform in [-1, 1), from a 32-bit xorshift.
  #nextNoise() {
    let x = this.noise;
    x ^= x << 13;
    x ^= x >>> 17;
    x ^= x << 5;
    this.noise = x >>> 0;
    return this.noise / 2147483648 - 1;
  }
}

// One period's shape at phase 0 … 1; `pulse` is a clock pulse's share of it.
function shape(kind, phase, pulse) {
  switch (kind) {
    case 'sine':
      return Math.sin(2 * Math.PI * phase);
    case 'saw':
      return 2 * phase - 1;
    case 'square':
      return phase < 0.5 ? 1 : -1;
    case 'gate':
      return phase < 0.5 ? 1 : 0;
    case 'clock':
      return phase < pulse ? 1 : 0;
    default:
      return 0;
  }
}

// What a kind starts at when it is chosen: a gate or a clock at full level
// and a few Hz, an oscillator or noise at half level, a tone at 220 Hz, a
// file or a capture device at unity gain. The keys set their own levels;
// theirs is only kept, out of sight.
const KIND_DEFAULTS = Object.freeze({
  constant: { level: 0 },
  sine: { level: 0.5, freq: 220 },
  saw: { level: 0.5, freq: 220 },
  square: { level: 0.5, freq: 220 },
  noise: { level: 0.5 },
  gate: { level: 1, freq: 2 },
  clock: { level: 1, freq: 4 },
  [FILE]: { level: 1 },
  [MICROPHONE]: { level: 1 },
  ...Object.fromEntries(KEY_KINDS.map((kind) => [kind, { level: 1 }])),
});
// Kinds whose frequency is a rate of events rather than a pitch.
const RATE_KINDS = Object.freeze(['gate', 'clock']);
// Kinds whose level is a gain on a signal from outside: they start at
// their own level whatever the level was.
const GAIN_KINDS = Object.freeze([FILE, MICROPHONE]);

// The setting after choosing `kind` in place of `previous`: a level already
// set is kept (but a gain starts at unity), a level of 0 takes the kind's
// own; the frequency is kept while it stays a pitch or a rate, and
// otherwise takes the kind's own.
export function settingForKind(previous, kind) {
  const defaults = KIND_DEFAULTS[kind] ?? {};
  const fresh = previous.level === 0 || (GAIN_KINDS.includes(kind) && previous.kind !== kind);
  const level = fresh && defaults.level !== undefined ? defaults.level : previous.level;
  const sameUse = RATE_KINDS.includes(kind) === RATE_KINDS.includes(previous.kind) && PERIODIC.includes(previous.kind);
  const freq = sameUse || defaults.freq === undefined ? previous.freq : defaults.freq;
  return normalizeInput({ kind, level, freq }) ?? defaultInput();
}

// The lowest and highest value the text reads from an input fed by
// `setting` (ten times the samples): a gate or a clock goes between 0 and
// its level, the other periodic kinds and noise swing both ways.
export function readsRange({ kind, level }) {
  const top = level * 10;
  if (kind === 'constant') return [top, top];
  if (RATE_KINDS.includes(kind)) return [Math.min(0, top), Math.max(0, top)];
  return [-Math.abs(top), Math.abs(top)];
}
