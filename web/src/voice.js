// One module instance with its six input sources: what the worklet plays,
// one block at a time. Kept apart from the worklet so the benchmark runs
// exactly the same work outside a browser.
import { InputSource } from './sources.js';

export class Voice {
  constructor(engine, { expr = '', init = '', inputs = [] }, rate) {
    this.engine = engine;
    this.rate = rate;
    this.sources = engine.inputs.map((_, k) => new InputSource(inputs[k], rate, k + 1));
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

  // One block of `frames` samples: the sources into the engine's inputs,
  // then the module's step; the number of samples a failure silenced. The
  // block stays in session.input and session.output until the next one.
  render(frames) {
    for (let k = 0; k < this.sources.length; k++) this.sources[k].fill(this.session.input(k, frames), frames);
    return this.session.process(frames);
  }
}
