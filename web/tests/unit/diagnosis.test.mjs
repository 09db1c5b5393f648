// One diagnosis for the page and `quorvel check`: every text of
// tools/tests/diagnosis_table.txt through the WebAssembly boundary and
// through the built program's `check --json`, compared whole; and each
// row's remark where the table places it, as the page places it.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { Engine } from '../../src/engine.js';
import { utf16Index } from '../../src/utf8.js';
import { repo, site } from '../support/browser.mjs';

const NATIVE = process.env.QUORVEL_NATIVE ?? path.join(repo, 'build/native/bin/quorvel');
const engine = Engine.fromBytes(fs.readFileSync(path.join(site, 'quorvel.wasm')));

// The table's rows: {line, expr, init (null: none), code, kind, place, wanted}.
function tableRows() {
  const unescaped = (field) => field.replace(/\\(.)/g, (_, c) => (c === 'n' ? '\n' : c === 't' ? '\t' : c));
  const lines = fs.readFileSync(path.join(repo, 'tools/tests/diagnosis_table.txt'), 'utf8').split('\n');
  const rows = [];
  lines.forEach((text, index) => {
    if (text === '' || text.startsWith('#')) return;
    const fields = text.split('\t');
    assert.equal(fields.length, 6, `diagnosis_table.txt line ${index + 1}`);
    const [expr, init, code, kind, place, wanted] = fields;
    rows.push({ line: index + 1, expr: unescaped(expr), init: init === '-' ? null : unescaped(init), code, kind, place, wanted });
  });
  return rows;
}

const rows = tableRows();

// What `quorvel check --json` prints for the texts.
function checkJson(expr, init) {
  const args = ['check', '--json', ...(init === null ? [] : [`--init=${init}`]), '--', expr];
  const run = spawnSync(NATIVE, args, { encoding: 'utf8' });
  assert.ok(run.status === 0 || run.status === 1, `quorvel check: status ${run.status}: ${run.stderr}`);
  return JSON.parse(run.stdout);
}

// The UTF-16 index of "LINE:COLUMN" (columns count characters).
function indexOf(text, place) {
  const [line, column] = place.split(':').map(Number);
  let at = 0;
  for (let k = 1; k < line; k++) at = text.indexOf('\n', at) + 1;
  for (let k = 1; k < column; k++) at += text.codePointAt(at) > 0xffff ? 2 : 1;
  return at;
}

test('the table holds every kind of remark', () => {
  assert.ok(rows.length > 50, `${rows.length} rows`);
  for (const kind of ['hint', 'warning', 'note']) assert.ok(rows.some((row) => row.kind === kind), kind);
});

// The page's status line and underline come from its own session's parse.
function pageParse(expr, init) {
  const session = engine.newSession();
  try {
    const parse = (report) => ({ code: report.name, offset: report.offset, length: report.length, statement: report.statement });
    return { init: init === null ? null : parse(session.parseInit(init)), expr: parse(session.parseExpr(expr)) };
  } finally {
    session.free();
  }
}

const texts = new Map(rows.map((row) => [JSON.stringify([row.expr, row.init]), row]));
for (const { expr, init, line } of texts.values())
  test(`check and the page give one diagnosis: line ${line}`, () => {
    const diagnosis = engine.diagnosis(expr, init);
    assert.deepEqual(diagnosis, checkJson(expr, init));
    const parsed = pageParse(expr, init);
    for (const which of ['expr', 'init'])
      if (diagnosis[which]) {
        const { code, offset, length, statement } = diagnosis[which];
        assert.deepEqual(parsed[which], { code, offset, length, statement }, which);
      }
  });

for (const row of rows)
  test(`the page shows the ${row.kind} where check places it: line ${row.line}, ${JSON.stringify(row.wanted)}`, () => {
    const diagnosis = engine.diagnosis(row.expr, row.init);
    const shown = engine.diagnose(row.expr, row.init);
    const code = [diagnosis.init?.code, diagnosis.expr.code].find((name) => name && name !== 'EXPR_OK') ?? 'EXPR_OK';
    assert.equal(code, row.code);
    const onInit = row.place.startsWith('init ');
    const which = onInit ? 'init' : 'expr';
    const text = onInit ? row.init : row.expr;
    const remark = shown[which][`${row.kind}s`].find((r) => r.text.includes(row.wanted));
    assert.ok(remark, JSON.stringify(shown[which]));
    // A hint without a place of its own is at the failure's.
    const from = remark.from < 0 && row.kind === 'hint' ? utf16Index(text, diagnosis[which].offset) : remark.from;
    assert.equal(from, row.place === '-' ? -1 : indexOf(text, row.place.replace('init ', '')));
  });
