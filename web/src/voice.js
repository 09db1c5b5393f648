// One module instance with its six input sources: what the worklet plays,
// one block at a time. Kept apart from the worklet so the benchmark runs
// exactly the same work outside a browser.
import { KeyState } from './keys.js';
import { InputSource } from './sources.js';

export class Voice {
  // media: per input, a file's samples at `rate` or null; keys: the keys'
  // levels (KeyState.levels()).
  constructor(engine, { expr = '', init = '', inputs = [], media = [], keys = null }, rate) {
    this.engine = engine;
    this.rate = rate;
    this.keys = { ...new KeyState().levels(), ...keys };
    this.sources = engine.inputs.map((_, k) => new InputSource(inputs[k], rate, k + 1, this.keys));
    this.sources.forEach((source, k) => source.attach(media[k] ?? null));
    this.start(expr, init);
  }

  // A fresh instance, opened at the voice's rate, with both texts.
  start(expr, init) {
    this.session?.free();
    this.session = this.engine.newSession();
    this.session.restart(this.rate);
    this.session.parseInit(init);
    this.session.parseExpr(expr);
  }

  setInputs(inputs) {
    inputs.forEach((setting, k) => this.sources[k]?.set(setting));
  }

  setKeys(levels) {
    Object.assign(this.keys, levels);
  }

  // One block of `frames` samples: the sources into the engine's inputs,
  // then the module's step; the number of samples a failure silenced. The
  // block stays in session.input and session.output until the next one.
  // `live`: per input, this block of its capture device, if it has one.
  render(frames, live = null) {
    for (let k = 0; k < this.sources.length; k++) this.sources[k].fill(this.session.input(k, frames), frames, live?.[k] ?? null);
    return this.session.process(frames);
  }
}
