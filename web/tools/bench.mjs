// The playground's speed, printed as the tables of docs/performance.md:
//   1. the cases of bench/cases.h through the module's engine, in blocks of
//      256: WebAssembly under Node beside the same code built natively;
//   2. the worklet's work for one 128-frame quantum of every gallery patch
//      and of a runaway text (sources, engine, copying out), under Node;
//   3. the heaviest patch rendered by the page's worklet in Chromium,
//      offline, per quantum.
// Each timing is the median of 7 of enough blocks to take 0.1 s.
//
//   node web/tools/bench.mjs NATIVE_BENCH_PROGRAM
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import { Engine } from '../src/engine.js';
import { Voice } from '../src/voice.js';
import { wasiImports } from '../src/wasi.js';
import { openBrowser, openPage, repo, site } from '../tests/support/browser.mjs';
import { BUSY_INPUTS as INPUTS } from './busy-inputs.mjs';

const REPETITIONS = 7;
const QUANTUM = 128;
const RATE = 48000;
const QUANTUM_US = (QUANTUM / RATE) * 1e6;

// Median seconds of `work(count)` over repetitions, and the count timed.
function time(work) {
  let count = 16;
  const once = () => {
    const start = performance.now();
    work(count);
    return (performance.now() - start) / 1000;
  };
  while (once() < 0.1) count *= 2;
  const seconds = Array.from({ length: REPETITIONS }, once).sort((a, b) => a - b);
  return { seconds: seconds[REPETITIONS >> 1], count };
}

function benchWasm() {
  const module = new WebAssembly.Module(fs.readFileSync(path.join(repo, 'build/web/bench.wasm')));
  let exports = null;
  exports = new WebAssembly.Instance(module, wasiImports(module, () => exports.memory)).exports;
  exports._initialize();
  const block = exports.bench_block();
  const name = (pointer) => {
    const bytes = new Uint8Array(exports.memory.buffer);
    let end = pointer;
    while (bytes[end]) end++;
    return Buffer.from(bytes.subarray(pointer, end)).toString();
  };
  const figures = new Map();
  for (let index = 0; index < exports.bench_case_count(); index++) {
    const run = exports.bench_open(index);
    const { seconds, count } = time((blocks) => exports.bench_blocks(run, blocks));
    figures.set(name(exports.bench_case_name(index)), (seconds * 1e9) / (count * block));
    exports.bench_close(run);
  }
  return figures;
}

function benchNative(program) {
  const figures = new Map();
  for (const line of execFileSync(program, { encoding: 'utf8' }).trim().split('\n')) {
    const [name, ns] = line.split(' ');
    figures.set(name, Number(ns));
  }
  return figures;
}

// The worklet's own work for one quantum: the voice's block and the copy
// into three output channels.
function benchQuantum(engine, patch) {
  const voice = new Voice(engine, { ...patch, inputs: INPUTS }, RATE);
  const channels = engine.outputs.map(() => new Float32Array(QUANTUM));
  const { seconds, count } = time((quanta) => {
    for (let q = 0; q < quanta; q++) {
      voice.render(QUANTUM);
      channels.forEach((channel, k) => channel.set(voice.session.output(k, QUANTUM)));
    }
  });
  voice.session.free();
  return (seconds * 1e6) / count;
}


// Microseconds per quantum of an offline render of the patch in Chromium,
// beyond the cost of starting one (a render of 0.1 s).
async function benchBrowser(patch) {
  const browser = await openBrowser();
  try {
    const { page } = await openPage(browser);
    const measure = (seconds) =>
      page.evaluate(
        async ({ seconds, patch }) => {
          const start = performance.now();
          await window.quorvel.render(seconds, patch);
          return performance.now() - start;
        },
        { seconds, patch: { ...patch, inputs: INPUTS } },
      );
    const short = [];
    const long = [];
    for (let r = 0; r < 5; r++) {
      short.push(await measure(0.1));
      long.push(await measure(20.1));
    }
    return ((median(long) - median(short)) * 1000) / ((20 * RATE) / QUANTUM);
  } finally {
    await browser.close();
  }
}

const share = (us) => `${((100 * us) / QUANTUM_US).toFixed(1)} %`;

// Rounds alternate the two builds, so a slow spell of a shared machine falls
// on both; each figure is the median over the rounds, and the ratio the
// median of each round's ratio.
const ROUNDS = 5;
const [nativeProgram] = process.argv.slice(2);
const rounds = Array.from({ length: ROUNDS }, () => ({ wasm: benchWasm(), native: benchNative(nativeProgram) }));
const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];
console.log(`Cases of bench/cases.h, ns per sample (blocks of 256, Node ${process.versions.node}):\n`);
console.log('| case | WebAssembly | native | WebAssembly / native |');
console.log('|---|---|---|---|');
for (const name of rounds[0].wasm.keys()) {
  const wasm = median(rounds.map((round) => round.wasm.get(name)));
  const native = median(rounds.map((round) => round.native.get(name)));
  const ratio = median(rounds.map((round) => round.wasm.get(name) / round.native.get(name)));
  console.log(`| ${name} | ${wasm.toFixed(1)} | ${native.toFixed(1)} | ${ratio.toFixed(2)} |`);
}

const engine = Engine.fromBytes(fs.readFileSync(path.join(site, 'quorvel.wasm')));
const gallery = JSON.parse(fs.readFileSync(path.join(site, 'gallery.json'), 'utf8'));
const quanta = gallery.map((patch) => ({ patch, us: benchQuantum(engine, patch) })).sort((a, b) => b.us - a.us);
// A text that never ends costs one evaluation budget per block.
const runaway = { title: 'a runaway Expr (stopped once per quantum)', expr: 'for(k = 0, 1, k = k + 1, 0);', init: '' };
console.log(`\nThe worklet's work per ${QUANTUM}-frame quantum at ${RATE} Hz (${QUANTUM_US.toFixed(0)} µs), under Node:\n`);
console.log('| patch | µs per quantum | share of the quantum |');
console.log('|---|---|---|');
for (const { patch, us } of [...quanta, { patch: runaway, us: benchQuantum(engine, runaway) }])
  console.log(`| ${patch.title} | ${us.toFixed(1)} | ${share(us)} |`);

const heaviest = quanta[0].patch;
const us = await benchBrowser(heaviest);
console.log(`\nIn Chromium, offline, the heaviest (${heaviest.title}): ${us.toFixed(1)} µs per quantum, ${share(us)} of it.`);
