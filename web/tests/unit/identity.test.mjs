// The identity check (tests/identity) in the WebAssembly engine: every
// mathematical built-in over its generated arguments and hard cases gives
// the outcomes of the table the native, 32-bit Linux and 32-bit Windows
// test programs compare against. build/web/identity.wasm links the
// playground's engine objects with the check (web/build).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { wasiImports } from '../../src/wasi.js';
import { repo } from '../support/browser.mjs';

const module = new WebAssembly.Module(fs.readFileSync(path.join(repo, 'build/web/identity.wasm')));
let exports = null;
exports = new WebAssembly.Instance(module, wasiImports(module, () => exports.memory)).exports;
exports._initialize();

function text(address, length) {
  const bytes = new Uint8Array(exports.memory.buffer, address);
  const end = length ?? bytes.indexOf(0);
  return new TextDecoder().decode(bytes.subarray(0, end));
}

const count = exports.identity_function_count();

test('the check covers every function of the table', () => assert.ok(count >= 25));

for (let f = 0; f < count; f++) {
  const name = text(exports.identity_function_name(f));
  test(`identical to the table: ${name}`, () => {
    const length = exports.identity_check(f);
    assert.equal(length, 0, length ? text(exports.identity_report(), length) : '');
  });
}
