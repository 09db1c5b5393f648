// The identity check's WebAssembly build (build/web/identity.wasm, made by
// web/build): the engine's objects with tests/identity, and its texts.
import fs from 'node:fs';
import path from 'node:path';
import { wasiImports } from '../../src/wasi.js';
import { repo } from './browser.mjs';

export function loadIdentity() {
  const module = new WebAssembly.Module(fs.readFileSync(path.join(repo, 'build/web/identity.wasm')));
  let exports = null;
  exports = new WebAssembly.Instance(module, wasiImports(module, () => exports.memory)).exports;
  exports._initialize();
  // A text of the module's memory: zero-terminated, or of the length given.
  const text = (address, length) => {
    const bytes = new Uint8Array(exports.memory.buffer, address);
    return new TextDecoder().decode(bytes.subarray(0, length ?? bytes.indexOf(0)));
  };
  const names = Array.from({ length: exports.identity_function_count() }, (_, f) => text(exports.identity_function_name(f)));
  return {
    names,
    // What differs from the table for function f, '' when nothing does.
    check: (f) => {
      const length = exports.identity_check(f);
      return length ? text(exports.identity_report(), length) : '';
    },
    // Every outcome of function f, as `identity_tool dump` prints them.
    dump: (f) => {
      const length = exports.identity_dump(f);
      return text(exports.identity_report(), length);
    },
  };
}
