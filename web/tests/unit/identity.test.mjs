// The identity check (tests/identity) in the WebAssembly engine: every
// mathematical built-in over its generated arguments and hard cases gives
// the outcomes of the table the native, 32-bit Linux and 32-bit Windows
// test programs compare against. build/web/identity.wasm links the
// playground's engine objects with the check (web/build); where several
// arguments of a chunk differ, web/tests/support/identity-dump.mjs prints
// every outcome for a diff with `identity_tool dump`.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { loadIdentity } from '../support/identity.mjs';

const identity = loadIdentity();

test('the check covers every function of the table', () => assert.ok(identity.names.length >= 25));

identity.names.forEach((name, f) =>
  test(`identical to the table: ${name}`, () => assert.equal(identity.check(f), '')),
);
