// The musician's own sound and keys on the inputs, in headless Chromium:
// the microphone through Chromium's fake capture device (fed a WAV file we
// write) and a refused one; an audio file chosen through the file input,
// rendered sample for sample as `quorvel render --in u=FILE` renders it;
// MIDI through a stand-in Web MIDI and the computer keyboard, giving the
// documented pitch, gate and velocity together at a block's first sample;
// links that cannot carry these sources; and a recording of the live
// outputs, in the render's layout and as long as the time recorded.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import { decodeWav, encodeWav } from '../../src/wav.js';
import { replaceText, startSound } from '../support/actions.mjs';
import { openBrowser, openPage, repo, screenshotPath } from '../support/browser.mjs';

const NATIVE = process.env.QUORVEL_NATIVE ?? path.join(repo, 'build/native/bin/quorvel');
const RATE = 48000;
const QUANTUM = 128;
let work;

before(() => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvel-sources-'));
});

after(() => {
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

// ---- Files we write ----------------------------------------------------------------

// A PCM WAV file of `channels` (arrays of numbers in -1 … 1), 8, 16, 24 or
// 32 bits, or of doubles (format 3, 64 bits).
function pcmWav(channels, rate, bits = 16, { doubles = false } = {}) {
  const frames = channels[0].length;
  const count = channels.length;
  const width = bits / 8;
  const full = 2 ** (bits - 1);
  const data = Buffer.alloc(frames * count * width);
  for (let i = 0; i < frames; i++)
    for (let k = 0; k < count; k++) {
      const value = Math.max(-full, Math.min(full - 1, Math.round(channels[k][i] * full)));
      if (doubles) data.writeDoubleLE(channels[k][i] * (1 + 1e-9), (i * count + k) * width);
      else if (bits === 8) data.writeUInt8(value + 128, (i * count + k) * width);
      else data.writeIntLE(value, (i * count + k) * width, width);
    }
  const head = Buffer.alloc(44);
  head.write('RIFF', 0);
  head.writeUInt32LE(36 + data.length, 4);
  head.write('WAVEfmt ', 8);
  head.writeUInt32LE(16, 16);
  head.writeUInt16LE(doubles ? 3 : 1, 20);
  head.writeUInt16LE(count, 22);
  head.writeUInt32LE(rate, 24);
  head.writeUInt32LE(rate * count * width, 28);
  head.writeUInt16LE(count * width, 32);
  head.writeUInt16LE(bits, 34);
  head.write('data', 36);
  head.writeUInt32LE(data.length, 40);
  return Buffer.concat([head, data]);
}

// A 16-bit FLAC file of `channels`, every frame stored verbatim: the
// least a FLAC decoder must read, and lossless.
function flac16(channels, rate) {
  const frames = channels[0].length;
  const count = channels.length;
  const BLOCK = 4096;
  const crc8 = (bytes) => bytes.reduce((crc, byte) => {
    crc ^= byte;
    for (let b = 0; b < 8; b++) crc = crc & 0x80 ? ((crc << 1) ^ 0x07) & 0xff : (crc << 1) & 0xff;
    return crc;
  }, 0);
  const crc16 = (bytes) => bytes.reduce((crc, byte) => {
    crc ^= byte << 8;
    for (let b = 0; b < 8; b++) crc = crc & 0x8000 ? ((crc << 1) ^ 0x8005) & 0xffff : (crc << 1) & 0xffff;
    return crc;
  }, 0);
  const info = Buffer.alloc(34);
  info.writeUInt16BE(BLOCK, 0);
  info.writeUInt16BE(BLOCK, 2);
  // rate (20 bits), channels - 1 (3), bits - 1 (5), total samples (36)
  const packed = (BigInt(rate) << 44n) | (BigInt(count - 1) << 41n) | (15n << 36n) | BigInt(frames);
  info.writeBigUInt64BE(packed, 10);
  const parts = [Buffer.from('fLaC'), Buffer.from([0x80, 0, 0, 34]), info];
  for (let start = 0, number = 0; start < frames; start += BLOCK, number++) {
    const size = Math.min(BLOCK, frames - start);
    const head = [0xff, 0xf8, 0x70, ((count - 1) << 4) | 0x08, number, (size - 1) >> 8, (size - 1) & 0xff];
    head.push(crc8(head));
    const body = Buffer.alloc(count * (1 + 2 * size));
    for (let k = 0; k < count; k++) {
      const at = k * (1 + 2 * size);
      body[at] = 0x02; // a verbatim subframe
      for (let i = 0; i < size; i++) body.writeInt16BE(Math.max(-32768, Math.min(32767, Math.round(channels[k][start + i] * 32768))), at + 1 + 2 * i);
    }
    const frame = Buffer.concat([Buffer.from(head), body]);
    const crc = crc16(frame);
    parts.push(frame, Buffer.from([crc >> 8, crc & 0xff]));
  }
  return Buffer.concat(parts);
}

function writeFile(name, bytes) {
  const file = path.join(work, name);
  fs.writeFileSync(file, Buffer.from(bytes));
  return file;
}

// Two seconds of a busy stereo signal: a chirp on one side, noise and
// values at full scale and beyond on the other.
function busyChannels(frames) {
  let seed = 12345;
  const noise = () => ((seed = (seed * 1103515245 + 12345) % 2147483648) / 1073741824 - 1);
  const left = Float32Array.from({ length: frames }, (_, i) => 0.8 * Math.sin(2 * Math.PI * (50 + i / 40) * (i / RATE)));
  const right = Float32Array.from({ length: frames }, (_, i) => (i % 9000 < 10 ? 1.5 * Math.sign(noise()) : 0.3 * noise()));
  return [left, right];
}

// ---- The page ---------------------------------------------------------------------

async function withPage(browser, use, { hash = '', setup = null } = {}) {
  const session = await openPageWith(browser, hash, setup);
  try {
    await use(session.page);
    assert.deepEqual(session.errors, []);
  } finally {
    await session.page.close();
  }
}

// openPage, with a script run before the page's own (a stand-in for a
// browser API).
async function openPageWith(browser, hash, setup) {
  if (!setup) return openPage(browser, hash);
  const original = browser.context.newPage.bind(browser.context);
  const context = {
    ...browser,
    context: {
      newPage: async () => {
        const page = await original();
        await page.addInitScript(setup);
        return page;
      },
    },
  };
  return openPage(context, hash);
}

// Puts a text in the Expr editor, plays it (Ctrl+Enter) and waits until it plays.
async function setExpr(page, text) {
  await replaceText(page, 'expr', text);
  await page.waitForFunction((text) => window.quorvel.page.playing.expr === text, text);
}

async function setKind(page, input, kind) {
  await page.selectOption(`#inputs tr[data-input="${input}"] .kind`, kind);
}

// A variable's value in the watch, once it satisfies `accept`.
async function watched(page, name, accept = '() => true', timeout = 5000) {
  const handle = await page.waitForFunction(
    ({ name, accept }) => {
      const row = [...document.querySelectorAll('#watch tr')].find((tr) => tr.cells[0]?.textContent === name);
      if (!row || row.cells[1].textContent === '') return false;
      const value = Number(row.cells[1].textContent);
      return new Function('v', `return (${accept})(v)`)(value) ? { value } : false;
    },
    { name, accept },
    { timeout },
  );
  return (await handle.jsonValue()).value;
}

async function setLevel(page, input, value) {
  await page.evaluate(
    ({ input, value }) => {
      const slider = document.querySelector(`#inputs tr[data-input="${input}"] .level`);
      slider.value = String(value);
      slider.dispatchEvent(new Event('input', { bubbles: true }));
    },
    { input, value },
  );
}

// What an input's row says of its source, and any problem with it under the table.
const rowNote = (page, input) =>
  page.evaluate((input) => {
    const note = document.querySelector(`#inputs tr[data-input="${input}"] .source-note`).textContent;
    const problem = document.querySelector(`#source-problems li[data-input="${input}"]`)?.textContent ?? '';
    return [note, problem].filter(Boolean).join(' ');
  }, input);
const noteSays = (page, input, pattern) =>
  page.waitForFunction(
    ({ input, source }) => {
      const note = document.querySelector(`#inputs tr[data-input="${input}"] .source-note`).textContent;
      const problem = document.querySelector(`#source-problems li[data-input="${input}"]`)?.textContent ?? '';
      return new RegExp(source).test(`${note} ${problem}`);
    },
    { input, source: pattern.source },
  );

// ---- The microphone -----------------------------------------------------------------

describe('the microphone', () => {
  test('a capture device reaches the text, and its name shows', async () => {
    const tone = Array.from({ length: RATE }, (_, i) => 0.5 * Math.sin((2 * Math.PI * 440 * i) / RATE));
    const file = writeFile('capture.wav', pcmWav([tone], RATE));
    const browser = await openBrowser({
      args: ['--use-fake-device-for-media-stream', `--use-file-for-fake-audio-capture=${file}`, '--use-fake-ui-for-media-stream'],
    });
    try {
      await withPage(browser, async (page) => {
        await startSound(page);
        await setExpr(page, 'peak = max(peak, abs(u)); out1 = u;');
        await setKind(page, 'u', 'microphone');
        const peak = await watched(page, 'peak', '(v) => v > 1', 8000);
        assert.ok(peak > 1 && peak < 10, `u peaked at ${peak}`);
        assert.doesNotMatch(await rowNote(page, 'u'), /refused|not found|silent/);
        await page.screenshot({ path: screenshotPath('sources-microphone.png'), fullPage: true });
        // Another source lets the device go.
        await setKind(page, 'u', 'constant');
        await page.waitForFunction(() => !window.quorvel.page.sources.microphone.stream);
      });
    } finally {
      await browser.close();
    }
  });

  test('a refused device gives the message, silence on that input, and the rest plays on', async () => {
    // A device, but no one to say yes: the headless browser refuses.
    const browser = await openBrowser({ args: ['--use-fake-device-for-media-stream'] });
    try {
      await withPage(browser, async (page) => {
        await startSound(page);
        await setKind(page, 'v', 'sine');
        await setLevel(page, 'v', 0.5);
        await setKind(page, 'u', 'microphone');
        await noteSays(page, 'u', /refused|No microphone/);
        await setExpr(page, 'peak = max(peak, abs(v)); heard = max(heard, abs(u)); out1 = v + u;');
        assert.match(await rowNote(page, 'u'), /u is silent; the rest plays on/);
        assert.equal(await page.isVisible('#inputs tr[data-input="u"] .again'), true);
        assert.ok((await watched(page, 'peak', '(v) => v > 4')) <= 5);
        assert.equal(await watched(page, 'heard'), 0);
        await page.waitForFunction(() => window.quorvel.scopeFrame()?.values[0].some((v) => Math.abs(v) > 0.3));
        assert.match(await page.textContent('#state'), /^playing/);
        await page.screenshot({ path: screenshotPath('sources-microphone-refused.png'), fullPage: true });
      });
    } finally {
      await browser.close();
    }
  });
});

// ---- Files, keys, links, recordings ------------------------------------------------------

describe('files, keys, links and recordings', () => {
  let browser;
  before(async () => {
    browser = await openBrowser();
  });
  after(async () => {
    await browser?.close();
  });

  // Renders natively: u from `file` (channel), the other inputs from what
  // the page fed its engine.
  function nativeRender(expr, file, channel, fedFile, seconds) {
    const out = path.join(work, 'native.wav');
    const args = ['render', '--expr', expr, '--rate', String(RATE), '--samples', String(seconds * RATE), '--block', String(QUANTUM), '-o', out];
    args.push('--in', `u=${file}:${channel}`);
    'vwxyz'.split('').forEach((pin, k) => args.push('--in', `${pin}=${fedFile}:${k + 2}`));
    execFileSync(NATIVE, args, { stdio: 'pipe' });
    return decodeWav(fs.readFileSync(out));
  }

  const bits = (floats) => new Uint32Array(floats.buffer, floats.byteOffset, floats.length);
  function firstDifference(a, b) {
    const x = bits(a);
    const y = bits(b);
    if (x.length !== y.length) return `lengths ${x.length} and ${y.length}`;
    const at = x.findIndex((word, i) => word !== y[i]);
    return at < 0 ? null : `sample ${at}: ${a[at]} and ${b[at]}`;
  }

  const FILES = [
    ['float.wav', 'a 32-bit float stereo file, its second channel', (c) => encodeWav(c, RATE), 2],
    ['pcm16.wav', 'a 16-bit stereo file, its first channel', (c) => pcmWav(c, RATE, 16), 1],
    ['pcm24.wav', 'a 24-bit stereo file, its second channel', (c) => pcmWav(c, RATE, 24), 2],
    ['pcm8.wav', 'an 8-bit stereo file, its first channel', (c) => pcmWav(c, RATE, 8), 1],
    ['pcm32.wav', 'a 32-bit stereo file, its second channel', (c) => pcmWav(c, RATE, 32), 2],
    ['double.wav', 'a 64-bit float stereo file, its first channel', (c) => pcmWav(c, RATE, 64, { doubles: true }), 1],
  ];

  for (const [name, what, encode, channel] of FILES)
    test(`a file chosen through the file input renders as quorvel render renders it, bit for bit: ${what}`, async () => {
      assert.ok(fs.existsSync(NATIVE), `the native build is needed: ${NATIVE}`);
      const seconds = 1;
      const file = writeFile(name, encode(busyChannels(2 * RATE)));
      await withPage(browser, async (page) => {
        const expr = 'out1 = u; out2 = u * v; out3 = 10 * tanh(u / 3);';
        await setExpr(page, expr);
        await page.setInputFiles('#inputs tr[data-input="u"] input.file', file);
        await noteSays(page, 'u', new RegExp(`^${name}: 2\\.00 s`));
        assert.equal(await page.inputValue('#inputs tr[data-input="u"] .kind'), 'file');
        if (channel !== 1) await page.selectOption('#inputs tr[data-input="u"] .channel', String(channel - 1));
        assert.match(await rowNote(page, 'u'), new RegExp(`^${name}: 2\\.00 s, channel ${channel} of 2, looped`));
        if (name === 'float.wav') await page.screenshot({ path: screenshotPath('sources-file.png'), fullPage: true });
        const files = await page.evaluate((seconds) => window.quorvel.renderFiles(seconds), seconds);
        const fedFile = writeFile(`${name}.fed.wav`, Buffer.from(files.inputs, 'base64'));
        const fed = decodeWav(fs.readFileSync(fedFile));
        // A float file's samples are what the engine was fed; others are
        // checked through the native render below.
        if (name === 'float.wav')
          assert.equal(firstDifference(fed.channels[0], decodeWav(fs.readFileSync(file)).channels[channel - 1].subarray(0, seconds * RATE)), null);
        const web = decodeWav(Buffer.from(files.outputs, 'base64'));
        const native = nativeRender(expr, file, channel, fedFile, seconds);
        for (let k = 0; k < 3; k++) assert.equal(firstDifference(web.channels[k], native.channels[k]), null, `out${k + 1}`);
        assert.ok(web.channels[0].some((v) => v !== 0));
      });
    });

  test('a file loops in the live page, at its gain', async () => {
    const file = writeFile('short.wav', encodeWav([Float32Array.from({ length: 4800 }, (_, i) => (i < 2400 ? 0.5 : -0.5))], RATE));
    await withPage(browser, async (page) => {
      // Chosen before the sound starts: decoded again at the context's rate.
      await page.setInputFiles('#inputs tr[data-input="u"] input.file', file);
      await noteSays(page, 'u', /short\.wav: 0\.10 s, mono, looped/);
      await startSound(page);
      await setExpr(page, 'hi = max(hi, u); lo = min(lo, u); out1 = u;');
      // At another rate than the file's, resampled: near its levels.
      await watched(page, 'hi', '(v) => v > 4.5 && v < 5.5');
      await watched(page, 'lo', '(v) => v < -4.5 && v > -5.5');
      // A second later it still plays: the file loops.
      await page.waitForTimeout(500);
      await setExpr(page, 'hi2 = max(hi2, u); out1 = u;');
      await watched(page, 'hi2', '(v) => v > 4.5');
      await setLevel(page, 'u', -0.5);
      await setExpr(page, 'lo3 = min(lo3, u); out1 = u;');
      await watched(page, 'lo3', '(v) => v < -2.25 && v > -2.75');
      assert.match(await page.textContent('#inputs tr[data-input="u"] .reads'), /gain -0\.50/);
    });
  });

  test('a file in another format than WAV is decoded by the browser: FLAC', async () => {
    const [left, right] = busyChannels(2 * RATE).map((channel) => channel.map((v) => Math.max(-1, Math.min(1, v))));
    const file = writeFile('stereo.flac', flac16([left, right], RATE));
    await withPage(browser, async (page) => {
      await page.setInputFiles('#inputs tr[data-input="v"] input.file', file);
      await noteSays(page, 'v', /^stereo\.flac: 2\.00 s, channel 1 of 2, looped/);
      await page.selectOption('#inputs tr[data-input="v"] .channel', '1');
      const files = await page.evaluate(() => window.quorvel.renderFiles(1));
      const fed = decodeWav(Buffer.from(files.inputs, 'base64')).channels[1];
      // The browser scales whole numbers its own way: within one step of 16 bits.
      const worst = fed.reduce((most, value, i) => Math.max(most, Math.abs(value - Math.round(right[i] * 32768) / 32768)), 0);
      assert.ok(worst <= 1 / 32767, `off by ${worst}`);
      assert.ok(fed.some((value) => value !== 0));
    });
  });

  test('a file dropped on the row of an input feeds that input', () =>
    withPage(browser, async (page) => {
      await page.evaluate(() => {
        const floats = Float32Array.from({ length: 4800 }, () => 0.25);
        const data = new DataTransfer();
        data.items.add(new File([window.quorvel.encodeWav([floats], 48000)], 'dropped.wav', { type: 'audio/wav' }));
        const row = document.querySelector('#inputs tr[data-input="x"]');
        row.dispatchEvent(new DragEvent('dragover', { dataTransfer: data, bubbles: true, cancelable: true }));
        row.dispatchEvent(new DragEvent('drop', { dataTransfer: data, bubbles: true, cancelable: true }));
      });
      await noteSays(page, 'x', /^dropped\.wav: 0\.10 s, mono, looped/);
      assert.equal(await page.inputValue('#inputs tr[data-input="x"] .kind'), 'file');
      const files = await page.evaluate(() => window.quorvel.renderFiles(0.2));
      const fed = decodeWav(Buffer.from(files.inputs, 'base64'));
      assert.ok(fed.channels[3].every((v) => v === 0.25)); // looped past its 0.1 s
    }));

  test('a file the browser cannot decode gives a message and silence', async () => {
    const file = writeFile('noise.mp3', Buffer.from('this is not audio at all'));
    await withPage(browser, async (page) => {
      await page.setInputFiles('#inputs tr[data-input="w"] input.file', file);
      await noteSays(page, 'w', /cannot decode/);
      assert.match(await rowNote(page, 'w'), /noise\.mp3: this browser cannot decode it .* w is silent/);
    });
  });

  // A stand-in Web MIDI with one keyboard, played by window.playMidi(bytes).
  const FAKE_MIDI = () => {
    const input = { name: 'Test Keys', onmidimessage: null };
    window.playMidi = (data) => input.onmidimessage?.({ data: Uint8Array.from(data) });
    navigator.requestMIDIAccess = () => Promise.resolve({ inputs: new Map([['1', input]]), onstatechange: null });
  };

  // Watches the block where the gate rises: its sample, and pitch and
  // velocity there; and counts the rises.
  const KEY_WATCH = `rise = and(above(v, 2.5), not(was));
at = if(rise, sample, at); p = if(rise, u, p); vel = if(rise, w, vel);
was = above(v, 2.5); rises = rises + rise; now = u; gate = v;
out1 = u; out2 = v; out3 = w;`;

  const reads = (level) => Math.fround(level) * 10;
  // The watch shows nine digits.
  const near = (actual, expected) => assert.ok(Math.abs(actual - expected) <= 1e-8 * Math.max(1, Math.abs(expected)), `${actual}, not ${expected}`);
  const nearly = (expected) => `(v) => Math.abs(v - ${expected}) <= 1e-8 * Math.max(1, Math.abs(${expected}))`;

  async function keysOnUVW(page) {
    await startSound(page);
    await setKind(page, 'u', 'key pitch');
    await setKind(page, 'v', 'key gate');
    await setKind(page, 'w', 'key velocity');
    await setExpr(page, KEY_WATCH);
    await page.click('#restart');
  }

  test('MIDI gives the documented pitch, gate and velocity, together at the first sample of a block', () =>
    withPage(
      browser,
      async (page) => {
        await keysOnUVW(page);
        await page.waitForFunction(() => /MIDI: Test Keys/.test(document.querySelector('#keys-status').textContent));
        assert.equal(await page.isVisible('#inputs tr[data-input="u"] .again'), false);
        assert.match(await page.textContent('#inputs tr[data-input="u"] .reads'), /1 unit per octave, 0 at A4 \(MIDI 69, 440 Hz\)/);
        await page.evaluate(() => window.playMidi([0x90, 81, 64]));
        await watched(page, 'rises', '(v) => v === 1');
        const at = await watched(page, 'at');
        assert.equal(at % QUANTUM, 0, `the gate rose at sample ${at}`);
        near(await watched(page, 'p'), reads((81 - 69) / 120)); // one octave up: reads 1
        near(await watched(page, 'vel'), reads(64 / 127));
        assert.equal(await watched(page, 'gate'), 5);
        assert.match(await page.textContent('#keys-status'), /last note A5 \(81\), velocity 64, held/);
        await page.screenshot({ path: screenshotPath('sources-keys.png'), fullPage: true });
        // Legato: a second key moves the pitch, not the gate; its release goes back.
        await page.evaluate(() => window.playMidi([0x90, 57, 100]));
        await watched(page, 'now', nearly(reads(-12 / 120)));
        await page.evaluate(() => window.playMidi([0x80, 57, 0]));
        await watched(page, 'now', nearly(reads(0.1)));
        assert.equal(await watched(page, 'rises'), 1);
        // The last key up: the gate falls, the pitch holds.
        await page.evaluate(() => window.playMidi([0x90, 81, 0]));
        assert.equal(await watched(page, 'gate', '(v) => v === 0'), 0);
        near(await watched(page, 'now'), reads(0.1));
      },
      { setup: FAKE_MIDI },
    ));

  test('the voice from the keys of the reference plays the note held, at its velocity', () =>
    withPage(
      browser,
      async (page) => {
        await setKind(page, 'u', 'key pitch');
        await setKind(page, 'v', 'key gate');
        await setKind(page, 'w', 'key velocity');
        await page.waitForFunction(() => /MIDI: Test Keys/.test(document.querySelector('#keys-status').textContent));
        await page.click('#gallery button[data-patch="recipe:a-voice-from-the-keys"]');
        await page.evaluate(() => window.playMidi([0x90, 81, 127]));
        await page.waitForFunction(() => /held/.test(document.querySelector('#keys-status').textContent));
        const files = await page.evaluate(() => window.quorvel.renderFiles(0.5));
        const out1 = decodeWav(Buffer.from(files.outputs, 'base64')).channels[0];
        const rises = out1.reduce((count, value, i) => count + (i > 0 && out1[i - 1] < 0 && value >= 0 ? 1 : 0), 0);
        assert.ok(Math.abs(rises - 440) <= 1, `${rises} cycles in 0.5 s, not those of A5 (880 Hz)`);
        const peak = out1.reduce((most, value) => Math.max(most, Math.abs(value)), 0);
        assert.ok(peak > 0.99 && peak <= 1, `peak ${peak} at full velocity`);
      },
      { setup: FAKE_MIDI },
    ));

  test('the computer keyboard plays from C4 on the A key, and not while typing a text', () =>
    withPage(browser, async (page) => {
      await keysOnUVW(page);
      await page.click('h1');
      await page.keyboard.down('KeyA');
      await watched(page, 'rises', '(v) => v === 1');
      near(await watched(page, 'p'), reads(-9 / 120)); // C4: reads -0.75
      near(await watched(page, 'vel'), reads(100 / 127));
      assert.equal((await watched(page, 'at')) % QUANTUM, 0);
      await page.keyboard.up('KeyA');
      await watched(page, 'gate', '(v) => v === 0');
      await page.keyboard.press('KeyX'); // an octave up
      await page.keyboard.down('KeyK');
      await watched(page, 'now', nearly(reads(15 / 120))); // C6
      await page.keyboard.up('KeyK');
      // Typed into the editor, the same letters play nothing.
      await page.click('#expr .cm-content');
      await page.keyboard.type('  ');
      await page.keyboard.down('KeyA');
      await page.keyboard.up('KeyA');
      await page.waitForTimeout(300);
      assert.equal(await watched(page, 'rises'), 2);
    }));

  test('a link names the file, the microphone and the keys it cannot carry, and they are silent where it opens', async () => {
    const file = writeFile('drums.wav', encodeWav([Float32Array.from({ length: 4800 }, () => 0.5)], RATE));
    let link;
    await withPage(browser, async (page) => {
      await page.setInputFiles('#inputs tr[data-input="u"] input.file', file);
      await noteSays(page, 'u', /drums\.wav: 0\.10 s/);
      await setKind(page, 'w', 'key gate');
      await setExpr(page, 'out1 = u; out2 = w;');
      await page.click('#share');
      link = await page.inputValue('#link');
    });
    await withPage(
      browser,
      async (page) => {
        assert.match(await page.textContent('#banner'), /A link cannot carry a file, a microphone or keys: u \(the file drums\.wav\) and w \(the key gate\) are silent here/);
        assert.equal(await page.inputValue('#inputs tr[data-input="u"] .kind'), 'file');
        assert.match(await rowNote(page, 'u'), /drums\.wav is not loaded here: choose or drop it/);
        await page.screenshot({ path: screenshotPath('sources-link.png'), fullPage: true });
        const files = await page.evaluate(() => window.quorvel.renderFiles(0.1));
        const fed = decodeWav(Buffer.from(files.inputs, 'base64'));
        assert.ok(fed.channels[0].every((v) => v === 0));
        assert.ok(fed.channels[2].every((v) => v === 0));
      },
      { hash: new URL(link).hash },
    );
  });

  // The chunks of a WAV file, as {id, size, at}.
  function chunksOf(bytes) {
    const found = [];
    for (let at = 12; at + 8 <= bytes.length; ) {
      const size = bytes.readUInt32LE(at + 4);
      found.push({ id: bytes.toString('latin1', at, at + 4), size, at: at + 8 });
      at += 8 + size + (size & 1);
    }
    return found;
  }

  test('a recording has the layout quorvel render writes and the length of the time recorded', async () => {
    const nativeFile = path.join(work, 'layout.wav');
    execFileSync(NATIVE, ['render', '--expr', 'out1 = 1;', '--samples', '10', '-o', nativeFile], { stdio: 'pipe' });
    const native = fs.readFileSync(nativeFile);
    await withPage(browser, async (page) => {
      await startSound(page);
      await setExpr(page, 'out1 = 5; out2 = -2.5; out3 = sample / 100000000;');
      const rate = await page.evaluate(() => window.quorvel.page.audio.context.sampleRate);
      for (const [what, listen, channels] of [['all', null, 3], ['listened', '1', 1]]) {
        if (listen) await page.selectOption('#listen', listen);
        await page.selectOption('#record-what', what);
        await page.click('#record');
        const started = Date.now();
        await page.waitForFunction(() => /recording 0\.[3-9] s/.test(document.querySelector('#record-status').textContent));
        if (what === 'all') await page.screenshot({ path: screenshotPath('sources-recording.png'), fullPage: true });
        await page.waitForTimeout(1200 - (Date.now() - started));
        const [download] = await Promise.all([page.waitForEvent('download'), page.click('#record')]);
        const elapsed = (Date.now() - started) / 1000;
        assert.equal(download.suggestedFilename(), 'quorvel-recording.wav');
        const bytes = fs.readFileSync(await download.path());
        // The same chunks in the same order (but the peak chunk the native
        // writer adds, which readers may skip), and the same format fields
        // but for the channel count and rate.
        const chunks = chunksOf(bytes);
        assert.deepEqual(chunks.map((c) => c.id), chunksOf(native).map((c) => c.id).filter((id) => id !== 'PEAK'));
        const fmt = chunks.find((c) => c.id === 'fmt ');
        const nativeFmt = chunksOf(native).find((c) => c.id === 'fmt ');
        assert.equal(fmt.size, nativeFmt.size);
        assert.equal(bytes.readUInt16LE(fmt.at), native.readUInt16LE(nativeFmt.at)); // 3: float
        assert.equal(bytes.readUInt16LE(fmt.at + 14), 32);
        assert.equal(bytes.readUInt16LE(fmt.at + 2), channels);
        assert.equal(bytes.readUInt32LE(fmt.at + 4), rate);
        assert.equal(bytes.readUInt32LE(fmt.at + 8), rate * channels * 4);
        const { channels: recorded } = decodeWav(bytes);
        const frames = recorded[0].length;
        assert.equal(bytes.readUInt32LE(chunks.find((c) => c.id === 'fact').at), frames);
        assert.equal(bytes.readUInt32LE(4), bytes.length - 8);
        assert.ok(Math.abs(frames / rate - elapsed) < 0.35, `${frames / rate} s recorded in ${elapsed} s`);
        assert.match(await page.textContent('#record-download'), new RegExp(`${(frames / rate).toFixed(2)} s, ${channels} channel`));
        if (channels === 3) await page.screenshot({ path: screenshotPath('sources-recorded.png') });
        if (channels === 3) {
          assert.ok(recorded[0].every((v) => v === 0.5));
          assert.ok(recorded[1].every((v) => v === -0.25));
          // out3 counts samples: the frames follow one another without a gap.
          const step = recorded[2].slice(1).map((v, i) => Math.round((v - recorded[2][i]) * 1e9));
          assert.ok(step.every((d) => d === 1), 'a gap or a repeat in the recording');
        } else assert.ok(recorded[0].every((v) => v === -0.25));
      }
    });
  });

  test('a recording takes the outputs before the limiter, and the health counts run on through it', () =>
    withPage(browser, async (page) => {
      await startSound(page);
      await setExpr(page, 'out1 = 100 * sin(2 * M_PI * 220 * time);');
      const rate = await page.evaluate(() => window.quorvel.page.audio.context.sampleRate);
      // Nine samples in ten of out1 are beyond full scale: a second's worth.
      await page.waitForFunction((count) => window.quorvel.health()?.over[0] > count, rate * 0.9);
      const before = await page.evaluate(() => window.quorvel.health().over[0]);
      await page.click('#record');
      await page.waitForFunction(() => /recording 0\.[5-9] s/.test(document.querySelector('#record-status').textContent));
      const during = await page.evaluate(() => window.quorvel.health().over[0]);
      assert.ok(during > before, `${during} samples beyond full scale counted while recording, ${before} before`);
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#record')]);
      assert.ok((await page.evaluate(() => window.quorvel.health().over[0])) >= during);
      const { channels } = decodeWav(fs.readFileSync(await download.path()));
      const peak = channels[0].reduce((most, value) => Math.max(most, Math.abs(value)), 0);
      assert.ok(peak > 9.9, `the recording's peak is ${peak}: the limited samples, not out1's`);
    }));
});

test('a recording counts only the time the sound played, and ends while the sound is stopped', async () => {
  const browser = await openBrowser();
  try {
    await withPage(browser, async (page) => {
      await startSound(page);
      await setExpr(page, 'out1 = 1;');
      await page.click('#record');
      await page.waitForTimeout(600);
      await page.click('#play'); // stop the sound
      await page.waitForFunction(() => document.querySelector('#state').textContent === 'stopped');
      const shown = await page.textContent('#record-status');
      await page.waitForTimeout(700);
      assert.equal(await page.textContent('#record-status'), shown);
      const [download] = await Promise.all([page.waitForEvent('download'), page.click('#record')]);
      const { channels } = decodeWav(fs.readFileSync(await download.path()));
      const rate = await page.evaluate(() => window.quorvel.page.audio.context.sampleRate);
      const seconds = channels[0].length / rate;
      assert.ok(seconds > 0.4 && seconds < 0.9, `${seconds} s`);
      assert.equal(await page.textContent('#record'), 'Record');
    });
  } finally {
    await browser.close();
  }
});

test('at 1 024 px the sources and the generators stay inside the inputs panel', async () => {
  const browser = await openBrowser();
  try {
    await withPage(browser, async (page) => {
      await page.setViewportSize({ width: 1024, height: 900 });
      // Beside the sources, the widest generator: a clock with a typed level
      // and rate. The level is typed while a file is read, and committed
      // after the file's note showed: the note leaves what was typed.
      await setKind(page, 'x', 'clock');
      await page.fill('#inputs tr[data-input="x"] .level-value', '-0.573');
      const file = writeFile('a-rather-long-file-name-of-a-drum-loop-take-3.wav', encodeWav(busyChannels(RATE), RATE));
      await page.setInputFiles('#inputs tr[data-input="u"] input.file', file);
      await noteSays(page, 'u', /take-3\.wav: 1\.00 s/);
      await page.press('#inputs tr[data-input="x"] .level-value', 'Enter');
      await page.fill('#inputs tr[data-input="x"] .freq', '12345.67');
      await page.press('#inputs tr[data-input="x"] .freq', 'Enter');
      assert.equal(await page.textContent('#inputs tr[data-input="x"] .reads'), 'x reads -5.73 to 0');
      await setKind(page, 'v', 'key pitch');
      await setKind(page, 'w', 'microphone');
      await noteSays(page, 'w', /silent/);
      const outside = await page.evaluate(() => {
        const panel = document.querySelector('section.inputs').getBoundingClientRect();
        return [...document.querySelectorAll('section.inputs *')]
          .filter((element) => {
            const box = element.getBoundingClientRect();
            return box.width > 0 && (box.right > panel.right + 0.5 || box.left < panel.left - 0.5);
          })
          .map((element) => element.className || element.id);
      });
      assert.deepEqual(outside, []);
      await page.screenshot({ path: screenshotPath('sources-1024.png'), fullPage: true });
    });
  } finally {
    await browser.close();
  }
});
