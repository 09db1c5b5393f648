// The page plays what the plug-in plays, bit for bit: every patch of the
// gallery (examples/ and the reference's recipes), and texts at the edges
// of the per-sample step, rendered for one second at 48 kHz (the chaotic
// example, whose feedback makes any difference in a last bit audible, for
// ten) by the page's
// offline render (OfflineAudioContext driving the worklet's WebAssembly
// engine) and by `quorvel render` through the native quorvel.sem, with the
// inputs the worklet fed the engine, in blocks of one render quantum.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { decodeWav } from '../../src/wav.js';
import { openBrowser, openPage, repo, site } from '../support/browser.mjs';
import { BUSY_INPUTS as INPUTS } from '../../tools/busy-inputs.mjs';

const NATIVE = process.env.QUORVEL_NATIVE ?? path.join(repo, 'build/native/bin/quorvel');
const SECONDS = 1;
const RATE = 48000;
const QUANTUM = 128; // the Web Audio render quantum: one module block in the worklet
// Patches compared for longer: the seconds of each.
const LONGER = { 'example:chaotic': 10 };


// Texts at the edges of the step: silence from a runaway Expr for the rest
// of its block at some samples, NaN and infinities, narrowing at and beyond
// the float range, subnormal feedback, Init's values, and the clock.
const EDGES = [
  { title: 'runaway at some samples', expr: 'for(k = 0, below(k, if(equal(mod(sample, 700), 0), 50000, 3)), k = k + 1, 0); out1 = u; out2 = k;', init: '' },
  { title: 'NaN and infinities', expr: 'out1 = sqrt(-1) * u; out2 = exp(1000) * v; out3 = ln(0);', init: '' },
  { title: 'narrowing to float', expr: 'out1 = 34028234663852885981170418348451692544 * 10 * (1 + u / 1000000000); out2 = u * 1.000000001; out3 = 1 / 3;', init: '' },
  { title: 'subnormal feedback', expr: 'f = f * 0.5 + x * pow10(-300); out1 = f * pow10(300); out2 = f;', init: '' },
  { title: 'Init values and the clock', expr: 'out1 = a + time; out2 = sample; out3 = rate / 10000;', init: 'a = 7; out3 = 1;' },
];

let browser;
let session;
let work;

before(async () => {
  assert.ok(fs.existsSync(NATIVE), `the native build is needed: ${NATIVE} (scripts/test native builds it)`);
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvel-identical-'));
  browser = await openBrowser();
  session = await openPage(browser);
});

after(async () => {
  await browser?.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

function nativeRender(patch, inputsFile, name, seconds) {
  const exprFile = path.join(work, `${name}.expr.txt`);
  const initFile = path.join(work, `${name}.init.txt`);
  const out = path.join(work, `${name}.native.wav`);
  fs.writeFileSync(exprFile, patch.expr);
  const args = ['render', '--expr-file', exprFile, '--rate', String(RATE), '--samples', String(seconds * RATE)];
  args.push('--block', String(QUANTUM), '-o', out);
  if (patch.init) {
    fs.writeFileSync(initFile, patch.init);
    args.push('--init-file', initFile);
  }
  'uvwxyz'.split('').forEach((pin, k) => args.push('--in', `${pin}=${inputsFile}:${k + 1}`));
  execFileSync(NATIVE, args, { stdio: 'pipe' });
  return decodeWav(fs.readFileSync(out));
}

const bitsOf = (floats) => new Uint32Array(floats.buffer, floats.byteOffset, floats.length);

// The first sample where the two renders differ in any bit, or null.
function firstDifference(web, native) {
  for (let k = 0; k < web.channels.length; k++) {
    const a = bitsOf(web.channels[k]);
    const b = bitsOf(native.channels[k]);
    for (let i = 0; i < a.length; i++)
      if (a[i] !== b[i]) return { output: k + 1, sample: i, web: web.channels[k][i], native: native.channels[k][i] };
  }
  return null;
}

const sounding = [];

async function compare(patch, name, seconds = SECONDS) {
  const files = await session.page.evaluate(
    ({ seconds, patch }) => window.quorvel.renderFiles(seconds, patch),
    { seconds, patch: { expr: patch.expr, init: patch.init, inputs: INPUTS } },
  );
  const inputsFile = path.join(work, `${name}.inputs.wav`);
  fs.writeFileSync(inputsFile, Buffer.from(files.inputs, 'base64'));
  const web = decodeWav(Buffer.from(files.outputs, 'base64'));
  const native = nativeRender(patch, inputsFile, name, seconds);
  assert.equal(web.rate, RATE);
  assert.equal(web.channels.length, 3);
  assert.equal(native.channels.length, 3);
  assert.equal(web.channels[0].length, seconds * RATE);
  assert.equal(native.channels[0].length, seconds * RATE);
  assert.equal(firstDifference(web, native), null);
  sounding.push(web.channels.some((channel) => channel.some((value) => value !== 0)));
  assert.deepEqual(session.errors, []);
}

const gallery = JSON.parse(fs.readFileSync(path.join(site, 'gallery.json'), 'utf8'));

for (const patch of gallery)
  test(`identical: ${patch.id}`, () => compare(patch, patch.id.replace(/[^a-z0-9]+/gi, '_'), LONGER[patch.id]));

test('the patches compared for longer are in the gallery', () => {
  for (const id of Object.keys(LONGER)) assert.ok(gallery.some((patch) => patch.id === id), id);
});
EDGES.forEach((patch, n) => test(`identical at the edges: ${patch.title}`, () => compare(patch, `edge_${n}`)));

test('the compared renders are not all silence', () => {
  assert.equal(sounding.length, gallery.length + EDGES.length);
  assert.ok(sounding.filter(Boolean).length >= sounding.length - 3, `only ${sounding.filter(Boolean).length} of ${sounding.length} made a sound`);
});
