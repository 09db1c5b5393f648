// The audio worklet: one module instance of the WebAssembly engine, run at
// the audio context's rate one render quantum at a time, each quantum one
// block of the module. It feeds the six inputs from their sources, copies
// out1 … out3 to its three output channels, and tells the page what the
// engine is doing: the variables, how many samples a failure silenced,
// Init's outcome, and the health of the sound (its share of the audio
// budget, NaN and infinite samples, samples beyond full scale). A second
// output, when the node has one, is the listening path: the same outputs
// through a protective limiter.
//
// processorOptions: wasm (the .wasm bytes), expr, init, inputs (settings),
// media (per input, a file's samples at the context's rate, or null), keys
// (the keys' levels), capture (optional: a number of frames whose inputs
// are kept and posted back as {type: 'captured'}, for the offline render).
// The node's one input carries the capture devices, channel k for input k.
import { Engine } from './engine.js';
import { Limiter, OutputMeter } from './meter.js';
import { BlockRecorder } from './record.js';
import { Voice } from './voice.js';

// How often the page hears from the worklet.
const STATUS_SECONDS = 0.1;

class QuorvelProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    const { wasm, expr, init, inputs, media, keys, capture } = options.processorOptions;
    const engine = Engine.fromBytes(wasm);
    this.voice = new Voice(engine, { expr, init, inputs, media, keys }, sampleRate);
    this.recorder = new BlockRecorder(this.port);
    this.outputOf = (k) => this.voice.session.output(k, this.frames);
    this.frames = 0;
    this.inputCount = engine.inputs.length;
    this.outputCount = engine.outputs.length;
    this.watchVersionSent = -1;
    this.captureFrames = capture ?? 0;
    this.captured = capture ? Array.from({ length: this.inputCount }, () => new Float32Array(capture)) : null;
    this.framesDone = 0;
    this.period = { frames: 0, silenced: 0, code: 0 };
    this.meter = new OutputMeter(this.outputCount);
    this.limiter = new Limiter(this.outputCount, sampleRate);
    // Milliseconds spent in process() this period: Date.now() is the one
    // clock the worklet's scope offers, in whole milliseconds, so each
    // quantum's reading is 0 or 1 ms off; over a period of many quanta the
    // errors average out.
    this.busy = 0;
    // Whether an Init parsed since Init last ran.
    this.initPending = true;
    this.initRunsSeen = 0;
    // How many Init texts the page has sent: it knows which it has sent since.
    this.initTexts = 0;
    this.statusEvery = Math.round(sampleRate * STATUS_SECONDS);
    this.port.onmessage = (event) => this.receive(event.data);
  }

  receive(message) {
    try {
      switch (message?.type) {
        case 'expr':
          this.voice.session.parseExpr(String(message.text));
          break;
        case 'init':
          this.voice.session.parseInit(String(message.text));
          this.initPending = true;
          this.initTexts++;
          break;
        case 'inputs':
          this.voice.setInputs(message.inputs);
          break;
        case 'media':
          this.voice.sources[message.input]?.attach(message.samples);
          break;
        case 'keys':
          // A key played is the musician playing, not a change: the counts go on.
          this.voice.setKeys(message.levels);
          return;
        case 'restart':
          this.voice.start(String(message.expr), String(message.init));
          this.watchVersionSent = -1;
          this.initPending = true;
          this.initRunsSeen = 0;
          break;
        case 'open':
          // As the host opens the module again: time and sample from 0,
          // Init at the first sample, the variables as they are.
          this.voice.session.restart(sampleRate);
          this.initPending = true;
          break;
        default:
          // Recording is no change to the sound: the counts go on.
          this.recorder.receive(message ?? {});
          return;
      }
      // Whatever changed, the health counts start again.
      this.meter.reset();
      this.limiter.reset();
    } catch (error) {
      this.port.postMessage({ type: 'error', message: String(error?.message ?? error) });
    }
  }

  process(inputs, outputs) {
    const channels = outputs[0];
    const frames = channels[0]?.length ?? 0;
    if (frames === 0) return true;
    const started = Date.now();
    // Unconnected, the input has no channels: no device plays.
    const live = inputs[0]?.length > 0 ? inputs[0] : null;
    const silenced = this.voice.render(frames, live);
    const session = this.voice.session;
    const listening = outputs[1];
    for (let k = 0; k < this.outputCount && k < channels.length; k++) {
      const samples = session.output(k, frames);
      channels[k].set(samples);
      this.meter.count(k, samples, frames);
      if (listening?.[k]) this.limiter.process(k, samples, listening[k], frames);
    }
    // The recording takes the outputs as they are, never the limited ones.
    this.frames = frames;
    this.recorder.write(this.outputOf, frames);
    this.busy += Date.now() - started;
    this.capture(session, frames);
    this.account(session, frames, silenced);
    return true;
  }

  // Keeps the inputs the engine was fed, for an offline render.
  capture(session, frames) {
    if (!this.captured || this.framesDone >= this.captureFrames) return;
    const count = Math.min(frames, this.captureFrames - this.framesDone);
    for (let k = 0; k < this.inputCount; k++) this.captured[k].set(session.input(k, frames).subarray(0, count), this.framesDone);
    if (this.framesDone + count >= this.captureFrames)
      this.port.postMessage({ type: 'captured', inputs: this.captured }, this.captured.map((a) => a.buffer));
  }

  // Counts silenced samples and the code behind them, and reports each period.
  account(session, frames, silenced) {
    this.framesDone += frames;
    const period = this.period;
    period.frames += frames;
    period.silenced += silenced;
    if (silenced > 0 && period.code === 0) period.code = session.codes(frames).find((code) => code !== 0) ?? 0;
    if (period.frames < this.statusEvery) return;
    const watch = session.watch();
    const names = watch.version !== this.watchVersionSent ? watch.names : null;
    this.watchVersionSent = watch.version;
    const initRuns = session.initRuns();
    if (initRuns !== this.initRunsSeen) {
      this.initRunsSeen = initRuns;
      this.initPending = false;
    }
    const health = {
      busyMs: this.busy,
      nonFinite: Array.from(this.meter.nonFinite),
      over: Array.from(this.meter.over),
      limited: Array.from(this.limiter.acted),
    };
    const init = { runs: initRuns, code: session.initCode(), pending: this.initPending, texts: this.initTexts };
    this.port.postMessage({ type: 'status', ...period, rate: sampleRate, names, values: watch.values, health, init });
    this.period = { frames: 0, silenced: 0, code: 0 };
    this.busy = 0;
  }
}

registerProcessor('quorvel', QuorvelProcessor);
