// Build-time and serving helpers: the WAV layout, the gallery read from the
// repository, and the static server's refusal to leave its folder.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { examplePatches, recipePatches, titleOf } from '../../tools/gallery.mjs';
import { resolveRequest } from '../../tools/serve.mjs';
import { decodeWav, encodeWav } from '../../src/wav.js';
import { repo } from '../support/browser.mjs';

test('a WAV file keeps every bit of every sample, NaN payloads too', () => {
  const words = Uint32Array.from([0x7fc00001, 0xff800000, 0x00000001, 0x3f800000, 0x7fa00000, 0x80000000]);
  const channels = [new Float32Array(words.buffer.slice(0, 12)), new Float32Array(words.buffer.slice(12))];
  const file = encodeWav(channels, 44100);
  const { rate, channels: back } = decodeWav(new Uint8Array(file));
  assert.equal(rate, 44100);
  assert.deepEqual(back.map((c) => Array.from(new Uint32Array(c.buffer))), [[...words.slice(0, 3)], [...words.slice(3)]]);
  const view = new DataView(file);
  assert.deepEqual([view.getUint16(20, true), view.getUint16(22, true), view.getUint16(34, true)], [3, 2, 32]);
});

test('a file that is not float WAV is refused', () => {
  assert.throws(() => decodeWav(new Uint8Array(8)), /not a WAV/);
  const pcm = new Uint8Array(encodeWav([new Float32Array(2)], 8000));
  pcm[20] = 1;
  assert.throws(() => decodeWav(pcm), /float/);
});

test('every example is in the gallery, with its Init when it has one', () => {
  const dir = path.join(repo, 'examples');
  const patches = examplePatches(dir);
  const files = fs.readdirSync(dir).filter((file) => file.endsWith('.expr.txt'));
  assert.equal(patches.length, files.length);
  for (const patch of patches) {
    const name = patch.id.slice('example:'.length);
    assert.equal(patch.expr, fs.readFileSync(path.join(dir, `${name}.expr.txt`), 'utf8'));
    const init = path.join(dir, `${name}.init.txt`);
    assert.equal(patch.init, fs.existsSync(init) ? fs.readFileSync(init, 'utf8') : '');
  }
});

test('recipes are the boxes of the Recipes section, without their annotations', () => {
  const markdown = [
    '## Functions', '```quorvel', 'sin(1);  → 0.84', '```',
    '## Recipes', 'Intro.', '```quorvel', 'intro = 1;', '```',
    '### An `edge`', 'Text.', '```quorvel', 'a = u;', 'b = a;   → 1, 2  when u is 1, 2', '```',
    '### Two ways', '```quorvel', 'one = 1;', '```', 'Or:', '```quorvel', 'two = 2;', '```',
    '## Trying a text', '```quorvel', 'after = 1;', '```',
  ].join('\n');
  assert.deepEqual(
    recipePatches(markdown).map(({ id, title, expr }) => [id, title, expr]),
    [
      ['recipe:an-edge', 'An edge', 'a = u;\nb = a;\n'],
      ['recipe:two-ways', 'Two ways', 'one = 1;\n'],
      ['recipe:two-ways-2', 'Two ways (2)', 'two = 2;\n'],
    ],
  );
  assert.deepEqual(recipePatches('## Other\n### x\n```quorvel\na;\n```'), []);
});

test('a patch is named by its leading comment, else by its file', () => {
  assert.equal(titleOf('< Bell: a struck tone. >', 'bell'), 'Bell');
  assert.equal(titleOf('  < One-pole low-pass filter on input u.\n more >', 'lowpass'), 'One-pole low-pass filter on input u');
  assert.equal(titleOf('out1 = 1;', 'sample_and_hold'), 'sample and hold');
});

test('the server serves only the site folder', () => {
  const root = '/srv/site';
  assert.equal(resolveRequest(root, '/'), '/srv/site/index.html');
  assert.equal(resolveRequest(root, '/app.js?x=1'), '/srv/site/app.js');
  for (const bad of ['/../etc/passwd', '/%2e%2e/etc/passwd', '/..%2fetc/passwd', '/%E0%A4%A'])
    assert.ok(resolveRequest(root, bad) === null || resolveRequest(root, bad).startsWith(`${root}/`), bad);
});
