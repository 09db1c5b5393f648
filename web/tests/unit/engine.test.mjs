// The engine through its WebAssembly boundary, as the page and the worklet
// reach it (src/engine.js over web/wasm/playground.cpp): where a failure
// is reported, the block buffers, the watch, the names, and memory growth.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { beforeEach, test } from 'node:test';
import { Engine, PinRole } from '../../src/engine.js';
import { repo, site } from '../support/browser.mjs';

const engine = Engine.fromBytes(fs.readFileSync(path.join(site, 'quorvel.wasm')));
let session;

beforeEach(() => {
  session?.free();
  session = engine.newSession();
  session.restart(48000);
});

// text, the code's name, the culprit as the editor underlines it, its statement.
const FAILURES = [
  ['2 < 3;', 'EXPR_ERR_COMMENT', '<', 0],
  ['k = 5 % 2;', 'EXPR_ERR_CHARACTER', '%', 0],
  ['out1 = 5 ^ 2;', 'EXPR_ERR_CHARACTER', '^', 0],
  ['nosuch(1);', 'EXPR_ERR_UNKNOWN_FUNCTION', 'nosuch', 0],
  ['sin(1, 2);', 'EXPR_ERR_ARG_COUNT', 'sin(1, 2)', 0],
  ['time = 1;', 'EXPR_ERR_CONST_ASSIGN', 'time', 0],
  ['rand(&M_PI);', 'EXPR_ERR_CONST_REF', '&M_PI', 0],
  ['1e5;', 'EXPR_ERR_TOKEN', '1e5', 0],
  ['a = 1;\n  b = 2 +;\n', 'EXPR_ERR_SYNTAX', '+', 1],
  ['x = 1; y = 2)', 'EXPR_ERR_PARENTHESES', ')', 1],
  // Offsets are bytes in the engine and UTF-16 units in the editor.
  ['< é > k = 5 % 2;', 'EXPR_ERR_CHARACTER', '%', 0],
  ['< 🎹 > k = 5 % 2;', 'EXPR_ERR_CHARACTER', '%', 0],
  ['k = 1; é = 2;', 'EXPR_ERR_CHARACTER', 'é', 1],
  ['out1 = 1;\u0001', 'EXPR_ERR_CHARACTER', '\u0001', 1],
  // A host cannot hand the module a NUL: refused where it stands.
  ['out1 = 1;\0 out2 = 2;', 'EXPR_ERR_CHARACTER', '\0', -1],
];

for (const [text, name, culprit, statement] of FAILURES)
  test(`a failure is placed at its culprit: ${JSON.stringify(text)}`, () => {
    const report = session.parseExpr(text);
    assert.equal(report.ok, false);
    assert.equal(report.name, name);
    assert.equal(text.slice(report.from, report.to), culprit);
    assert.equal(report.statement, statement);
    assert.ok(report.message.length > 0);
  });

test('a text that parses has no place, and every code has a message', () => {
  const report = session.parseExpr('out1 = 5 * sin(2 * M_PI * 440 * time);');
  assert.deepEqual([report.ok, report.name, report.from, report.statement], [true, 'EXPR_OK', -1, -1]);
  for (const failure of FAILURES) assert.notEqual(engine.codeMessage(session.parseExpr(failure[0]).code), '');
});

// check's advice: [Expr, Init (null: none), the text advised, a hint, or
// the culprit of a warning].
const ADVICE = [
  ['out1 = 5 ^ 2;', null, 'expr', { hint: /pow\(a, b\)/ }],
  ['out1 = sn(2);', '', 'expr', { hint: /sin/ }],
  ['out1 = 1e3;', null, 'expr', { hint: /exponent/ }],
  ['< é 🎹 > out1 = gain;', 'g = 1;', 'expr', { warning: 'gain' }],
  ['out1 = g;', 'g = level;', 'init', { warning: 'level' }],
];

for (const [expr, init, which, expected] of ADVICE)
  test(`check's advice crosses the boundary: ${JSON.stringify([expr, init])}`, () => {
    const advice = engine.diagnose(expr, init)[which];
    const text = which === 'expr' ? expr : init;
    if (expected.hint) assert.ok(advice.hints.some((hint) => expected.hint.test(hint.text)), JSON.stringify(advice.hints));
    if (expected.warning)
      assert.deepEqual(advice.warnings.map((w) => text.slice(w.from, w.to)), [expected.warning], JSON.stringify(advice.warnings));
  });

test('a text that reads only what it writes gets no advice', () => {
  const none = { hints: [], warnings: [], notes: [] };
  assert.deepEqual(engine.diagnose('out1 = g;', 'g = 1;'), { expr: none, init: none });
  assert.equal(engine.diagnose('out1 = 1;', null).init, null);
});

// One block with the inputs given; the outputs and the silenced count.
function block(frames, fill = () => 0) {
  for (let k = 0; k < engine.inputs.length; k++) session.input(k, frames).set(Float32Array.from({ length: frames }, (_, i) => fill(k, i)));
  const silenced = session.process(frames);
  return { silenced, outputs: engine.outputs.map((_, k) => Float32Array.from(session.output(k, frames))) };
}

test('samples cross the boundary through the block buffers, scaled as the module scales them', () => {
  session.parseExpr('out1 = u; out2 = z * 2; out3 = sample;');
  const { silenced, outputs } = block(128, (k, i) => (k === 0 ? i / 128 : k === 5 ? -0.25 : 0));
  assert.equal(silenced, 0);
  assert.deepEqual(Array.from(outputs[0].slice(0, 3)), [0, Math.fround(1 / 128), Math.fround(2 / 128)]);
  assert.ok(outputs[1].every((value) => value === -0.5));
  assert.equal(outputs[2][127], Math.fround(127 * 0.1));
});

test('a runaway Expr silences the rest of its block, and the next block tries again', () => {
  session.parseExpr('for(k = 0, below(k, if(equal(sample, 10), 100000, 1)), k = k + 1, 0); out1 = 1;');
  const first = block(128);
  assert.equal(first.silenced, 118);
  assert.equal(first.outputs[0][9], Math.fround(0.1));
  assert.ok(first.outputs[0].slice(10).every((value) => value === 0));
  assert.equal(engine.codeName(session.codes(128)[10]), 'EXPR_ERR_ABORTED');
  assert.equal(block(128).silenced, 0);
});

test('a restart runs Init again at the first sample, with time and sample from 0', () => {
  session.parseInit('n = n + 1;');
  session.parseExpr('out1 = n; out2 = time * 48000; out3 = sample;');
  block(64);
  session.restart(48000);
  const { outputs } = block(64);
  assert.equal(outputs[0][0], Math.fround(0.2));
  assert.equal(outputs[1][0], 0);
  assert.equal(outputs[2][0], 0);
});

test('the watch lists every variable in name order with its value now', () => {
  session.parseExpr('zeta = 3; alpha = alpha + 1;');
  block(5);
  const watch = session.watch();
  const values = Object.fromEntries(watch.names.map((name, i) => [name, watch.values[i]]));
  assert.deepEqual(watch.names, [...watch.names].sort((a, b) => (a < b ? -1 : a > b ? 1 : 0)));
  assert.equal(values.alpha, 5);
  assert.equal(values.zeta, 3);
  for (const pin of engine.pins.filter((pin) => pin.role === PinRole.Input || pin.role === PinRole.Output))
    assert.ok(pin.name in values, pin.name);
  const before = watch.version;
  session.parseExpr('beta = 1;');
  assert.notEqual(session.watch().version, before);
  assert.ok(session.watch().names.includes('beta'));
});

test('processing goes on after a long text has grown the memory', () => {
  session.parseExpr('out1 = u;');
  const views = session.input(0, 128);
  const long = `< ${'a long note '.repeat(400000)} > out1 = u;`;
  assert.equal(session.parseExpr(long).ok, true);
  assert.equal(views.length, 0, 'the old views were detached: the memory grew');
  const { outputs } = block(128, (k) => (k === 0 ? 0.5 : 0));
  assert.equal(outputs[0][0], 0.5);
});

test('the highlighted names are those of the reference', () => {
  const { functions, constants } = engine.names(session);
  const reference = fs.readFileSync(path.join(repo, 'docs/language.md'), 'utf8');
  // The first cell of each table row: "| `sin(a)`, `cos(a)`, `tan(a)` | …".
  const firstCells = reference.split('\n').filter((line) => line.startsWith('| `')).map((line) => line.split('|')[1]);
  const documented = new Set(firstCells.flatMap((cell) => [...cell.matchAll(/`([a-z][a-z0-9]*)\(/g)].map((match) => match[1])));
  const documentedConstants = new Set([...reference.matchAll(/^\| `(M_[A-Z0-9_]+)`/gm)].map((match) => match[1]));
  assert.ok(documented.size > 40);
  assert.deepEqual(new Set(functions), documented);
  for (const name of [...documentedConstants, 'time', 'sample', 'rate']) assert.ok(constants.includes(name), name);
  assert.equal(constants.length, documentedConstants.size + 3);
});
