// What feeds the module's six inputs in the playground: a constant, an
// oscillator, noise, a gate or a clock, at a level in pin units (a sample
// value: the text reads it times 10). The one place that knows the kinds
// and their ranges; the worklet, the page and the shared link use it.

export const KINDS = Object.freeze(['constant', 'sine', 'saw', 'square', 'noise', 'gate', 'clock']);
// Kinds whose rate or frequency matters.
export const PERIODIC = Object.freeze(['sine', 'saw', 'square', 'gate', 'clock']);
export const LEVEL_RANGE = Object.freeze([-1, 1]);
export const FREQ_RANGE = Object.freeze([0.01, 20000]);
// A clock's pulse, in seconds; at most half its period.
const PULSE_SECONDS = 0.001;

export function defaultInput() {
  return { kind: 'constant', level: 0, freq: 220 };
}

// A setting made safe: a known kind, finite numbers inside their ranges.
// Null when `setting` is not an object with a known kind.
export function normalizeInput(setting) {
  if (!setting || typeof setting !== 'object' || !KINDS.includes(setting.kind)) return null;
  return {
    kind: setting.kind,
    level: clampNumber(setting.level, LEVEL_RANGE, 0),
    freq: clampNumber(setting.freq, FREQ_RANGE, 220),
  };
}

function clampNumber(value, [low, high], fallback) {
  const number = typeof value === 'number' ? value : Number.NaN;
  return Number.isFinite(number) ? Math.min(high, Math.max(low, number)) : fallback;
}

// One input's signal, sample by sample. Changing the setting keeps the
// phase, so a new frequency does not click.
export class InputSource {
  constructor(setting, rate, seed) {
    this.rate = rate;
    this.phase = 0;
    this.noise = seed >>> 0 || 1;
    this.set(setting);
  }

  set(setting) {
    this.setting = normalizeInput(setting) ?? defaultInput();
  }

  // Writes `frames` samples into `buffer`.
  fill(buffer, frames) {
    const { kind, level, freq } = this.setting;
    if (kind === 'constant') {
      buffer.fill(level, 0, frames);
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
// and a few Hz, an oscillator or noise at half level, a tone at 220 Hz.
const KIND_DEFAULTS = Object.freeze({
  constant: { level: 0 },
  sine: { level: 0.5, freq: 220 },
  saw: { level: 0.5, freq: 220 },
  square: { level: 0.5, freq: 220 },
  noise: { level: 0.5 },
  gate: { level: 1, freq: 2 },
  clock: { level: 1, freq: 4 },
});
// Kinds whose frequency is a rate of events rather than a pitch.
const RATE_KINDS = Object.freeze(['gate', 'clock']);

// The setting after choosing `kind` in place of `previous`: a level already
// set is kept, a level of 0 takes the kind's own; the frequency is kept
// while it stays a pitch or a rate, and otherwise takes the kind's own.
export function settingForKind(previous, kind) {
  const defaults = KIND_DEFAULTS[kind] ?? {};
  const level = previous.level !== 0 || defaults.level === undefined ? previous.level : defaults.level;
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
