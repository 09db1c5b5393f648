// What the worklet measures of its own work for the health strip, and the
// limiter that guards the listener's ears. Nothing here allocates after
// construction: it runs at every render quantum on the audio thread.

// Full scale: an output sample of ±1 (the text's ±10).
export const FULL_SCALE = 1;
// How long the limiter takes to let the level back up (time constant).
const RELEASE_SECONDS = 0.05;
// Below this gain (-0.01 dB) the limiter counts as having acted.
const ACTED_BELOW = 0.999;

// Per output: samples that were NaN or infinite, and samples beyond full
// scale, since the last reset.
export class OutputMeter {
  constructor(outputCount) {
    this.nonFinite = new Float64Array(outputCount);
    this.over = new Float64Array(outputCount);
  }

  reset() {
    this.nonFinite.fill(0);
    this.over.fill(0);
  }

  count(k, samples, frames) {
    let nonFinite = 0;
    let over = 0;
    for (let i = 0; i < frames; i++) {
      const value = samples[i];
      if (value - value !== 0) nonFinite++;
      else if (value > FULL_SCALE || value < -FULL_SCALE) over++;
    }
    this.nonFinite[k] += nonFinite;
    this.over[k] += over;
  }
}

// A peak limiter per output for the listening path: the gain falls at once
// to what keeps a sample within full scale and recovers smoothly, so
// nothing louder than full scale reaches the speakers; NaN and the
// infinities become silence. Counts the samples it changed per output.
export class Limiter {
  constructor(outputCount, rate) {
    this.gain = new Float64Array(outputCount).fill(1);
    this.acted = new Float64Array(outputCount);
    this.release = 1 - Math.exp(-1 / (RELEASE_SECONDS * rate));
  }

  // A new text or setting starts unlimited.
  reset() {
    this.acted.fill(0);
    this.gain.fill(1);
  }

  // Writes `frames` samples of `input` to `output`, limited.
  process(k, input, output, frames) {
    let gain = this.gain[k];
    let acted = 0;
    for (let i = 0; i < frames; i++) {
      const value = input[i];
      if (value - value !== 0) {
        output[i] = 0;
        acted++;
        continue;
      }
      const magnitude = Math.abs(value);
      gain += (1 - gain) * this.release;
      if (magnitude * gain > FULL_SCALE) gain = FULL_SCALE / magnitude;
      output[i] = value * gain;
      if (gain < ACTED_BELOW) acted++;
    }
    this.gain[k] = gain;
    this.acted[k] += acted;
  }
}
