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
