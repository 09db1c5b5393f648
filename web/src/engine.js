// The module's engine, compiled to WebAssembly (web/wasm/playground.cpp),
// seen from JavaScript. The page, its audio worklet, the tests and the
// benchmark all reach the engine through this file; none computes a sample
// itself.
import { decodeUtf8, encodeUtf8, utf16Index } from './utf8.js';
import { wasiImports } from './wasi.js';

export const PinRole = Object.freeze({ Input: 0, Init: 1, Expr: 2, Output: 3 });

// The UTF-16 span {from, to} of `length` bytes at byte `offset` of text, at
// least one unit wide where the text has one; from -1 for no place.
function spanOf(text, offset, length) {
  if (offset < 0) return { from: -1, to: -1 };
  const from = utf16Index(text, offset);
  const to = Math.min(Math.max(from + 1, utf16Index(text, offset + Math.max(length, 1))), Math.max(text.length, from));
  return { from, to };
}

export class Engine {
  // From the .wasm bytes or a compiled module, synchronously: the audio
  // worklet cannot wait for a promise before its first block.
  static fromBytes(source) {
    const module = source instanceof WebAssembly.Module ? source : new WebAssembly.Module(source);
    let exports = null;
    const instance = new WebAssembly.Instance(module, wasiImports(module, () => exports.memory));
    exports = instance.exports;
    return new Engine(exports);
  }

  static async load(bytes) {
    return Engine.fromBytes(await WebAssembly.compile(bytes));
  }

  constructor(exports) {
    this.exports = exports;
    exports._initialize();
    this.pins = this.#readPins();
    this.inputs = this.pins.filter((pin) => pin.role === PinRole.Input);
    this.outputs = this.pins.filter((pin) => pin.role === PinRole.Output);
    this.exprPin = this.pins.findIndex((pin) => pin.role === PinRole.Expr);
    this.initPin = this.pins.findIndex((pin) => pin.role === PinRole.Init);
    this.maxFrames = Number(exports.pg_max_frames());
  }

  newSession() {
    const handle = this.exports.pg_session_new();
    if (!handle) throw new Error('the engine ran out of memory setting up');
    return new Session(this, handle);
  }

  codeName(code) {
    return this.string(this.exports.pg_code_name(code));
  }

  codeMessage(code) {
    return this.string(this.exports.pg_code_message(code));
  }

  // The language's names as the module's tables hold them.
  names(session) {
    return {
      functions: this.stringList(this.exports.pg_names(session.handle, 0)),
      constants: this.stringList(this.exports.pg_names(session.handle, 1)),
    };
  }

  // What `quorvel check` adds for people, for both texts (init null: none):
  // {expr, init}, each {hints: [text], warnings: [{text, from, to}]} with
  // UTF-16 places (from -1: the warning has no place), init null when none.
  diagnose(expr, init) {
    const exprBytes = this.putText(0, expr);
    const initBytes = init === null ? -1 : this.putText(1, init);
    const advice = JSON.parse(this.string(this.exports.pg_diagnose(exprBytes, initBytes)));
    if (!advice) return null;
    const place = (text, advice) =>
      advice && {
        hints: advice.hints,
        warnings: advice.warnings.map(({ text: warning, offset, length }) => ({
          text: warning,
          ...spanOf(text, offset, length),
        })),
      };
    return { expr: place(expr, advice.expr), init: init === null ? null : place(init, advice.init) };
  }

  // Hands a text to the engine in slot 0 or 1; its length in bytes.
  putText(slot, text) {
    const bytes = encodeUtf8(text);
    const buffer = this.exports.pg_text_buffer(slot, bytes.length);
    this.bytes().set(bytes, buffer);
    return bytes.length;
  }

  bytes() {
    return new Uint8Array(this.exports.memory.buffer);
  }

  string(pointer) {
    const bytes = this.bytes();
    let end = pointer;
    while (bytes[end] !== 0) end++;
    return decodeUtf8(bytes, pointer, end);
  }

  // NUL-separated names, ended by an empty one.
  stringList(pointer) {
    const bytes = this.bytes();
    const names = [];
    for (let at = pointer; bytes[at] !== 0; ) {
      let end = at;
      while (bytes[end] !== 0) end++;
      names.push(decodeUtf8(bytes, at, end));
      at = end + 1;
    }
    return names;
  }

  #readPins() {
    const pins = [];
    const count = this.exports.pg_pin_count();
    for (let index = 0; index < count; index++)
      pins.push({ index, name: this.string(this.exports.pg_pin_name(index)), role: this.exports.pg_pin_role(index) });
    return pins;
  }
}

// One module instance: its texts, its clock, its variables.
export class Session {
  constructor(engine, handle) {
    this.engine = engine;
    this.handle = handle;
    this.lastWatchVersion = -1;
    this.watchNames = [];
  }

  free() {
    this.engine.exports.pg_session_free(this.handle);
    this.handle = 0;
  }

  restart(rate) {
    this.engine.exports.pg_restart(this.handle, rate);
  }

  parseExpr(text) {
    return this.parse(this.engine.exprPin, text);
  }

  parseInit(text) {
    return this.parse(this.engine.initPin, text);
  }

  // Parses the text into the pin's context, as a pin update does, and
  // reports the outcome; `from` and `to` are UTF-16 indices into text.
  parse(pin, text) {
    const { exports } = this.engine;
    const code = exports.pg_parse(this.handle, pin, this.engine.putText(0, text));
    const offset = exports.pg_report_offset();
    const length = exports.pg_report_length();
    return {
      code,
      ok: code === 0,
      name: this.engine.codeName(code),
      message: this.engine.codeMessage(code),
      note: this.engine.string(exports.pg_report_note()),
      statement: exports.pg_report_statement(),
      offset,
      length,
      ...spanOf(text, offset, length),
    };
  }

  // The engine's block buffers as views, made anew when the memory has
  // grown (which detaches the old ones) or the block length changes, so
  // the audio thread does not build nine arrays for every block.
  input(k, frames) {
    return this.#views(frames).inputs[k];
  }

  output(k, frames) {
    return this.#views(frames).outputs[k];
  }

  codes(frames) {
    return this.#views(frames).codes;
  }

  #views(frames) {
    const { exports } = this.engine;
    const buffer = exports.memory.buffer;
    if (this.cache?.buffer === buffer && this.cache.frames === frames) return this.cache;
    const floats = (pointer) => new Float32Array(buffer, pointer, frames);
    this.cache = {
      buffer,
      frames,
      inputs: this.engine.inputs.map((_, k) => floats(exports.pg_input(this.handle, k))),
      outputs: this.engine.outputs.map((_, k) => floats(exports.pg_output(this.handle, k))),
      codes: new Int32Array(buffer, exports.pg_codes(this.handle), frames),
    };
    return this.cache;
  }

  // One block through the module's per-sample step; the number of samples
  // a failure silenced.
  process(frames) {
    return this.engine.exports.pg_process(this.handle, frames);
  }

  // How often Init has run, and its result code at the last run.
  initRuns() {
    return this.engine.exports.pg_init_runs(this.handle) >>> 0;
  }

  initCode() {
    return this.engine.exports.pg_init_code(this.handle);
  }

  // Every variable with its value now, in name order.
  watch() {
    const { exports } = this.engine;
    const version = exports.pg_watch_version(this.handle);
    if (version !== this.lastWatchVersion) {
      this.watchNames = this.engine.stringList(exports.pg_watch_names(this.handle));
      this.lastWatchVersion = version;
    }
    const count = this.watchNames.length;
    const values = new Float64Array(exports.memory.buffer, exports.pg_watch_values(this.handle), count);
    return { version, names: this.watchNames, values: Float64Array.from(values) };
  }
}
