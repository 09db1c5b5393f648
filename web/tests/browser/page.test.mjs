// The playground in headless Chromium, used as a person uses it: typing,
// clicking the gallery, sharing a link, rendering a file, and feeding it
// what a person should not (a runaway text, a huge paste, control
// characters, garbage links). No test may leave an error in the console.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { decodeWav } from '../../src/wav.js';
import { assertResponsive, editorText, paste, replaceText, startSound, waitForScope } from '../support/actions.mjs';
import { openBrowser, openPage, screenshotPath, site } from '../support/browser.mjs';

const gallery = JSON.parse(fs.readFileSync(path.join(site, 'gallery.json'), 'utf8'));
let browser;

before(async () => {
  browser = await openBrowser();
});

after(async () => {
  await browser?.close();
});

// A fresh page; `use` gets it, and its console must stay clean.
async function withPage(use, hash = '') {
  const session = await openPage(browser, hash);
  try {
    await use(session.page);
    assert.deepEqual(session.errors, []);
  } finally {
    await session.page.close();
  }
}

test('the page loads with every control ready and no console error', () =>
  withPage(async (page) => {
    await page.waitForTimeout(500);
    assert.equal(await page.isEnabled('#play'), true);
    assert.equal(await page.locator('#gallery button').count(), gallery.length);
    assert.equal(await page.locator('#inputs tr').count(), 6);
    assert.match(await page.textContent('#expr-status'), /Parses/);
    assert.equal(await page.isVisible('#banner'), false);
  }));

test('a typed text changes the scope', () =>
  withPage(async (page) => {
    await startSound(page);
    await replaceText(page, 'expr', 'out1 = 5; out2 = -2.5;', { typed: true });
    await waitForScope(page, { 0: 0.5, 1: -0.25 });
    await replaceText(page, 'expr', 'out1 = -10; out2 = 0;', { typed: true });
    await waitForScope(page, { 0: -1, 1: 0 });
  }));

test('a text with an error is underlined where the engine places it, and the last good text plays on', () =>
  withPage(async (page) => {
    await startSound(page);
    await replaceText(page, 'expr', 'out1 = 5;');
    await waitForScope(page, { 0: 0.5 });
    for (const [text, culprit, code] of [
      ['< é > out1 = 5 % 2;', '%', 'EXPR_ERR_CHARACTER'],
      ['out1 = 2 +* 3;', '*', 'EXPR_ERR_SYNTAX'],
      ['out1 = 1;\nout2 = sn(2 * M_PI * phase);', 'sn', 'EXPR_ERR_UNKNOWN_FUNCTION'],
    ]) {
      await replaceText(page, 'expr', text);
      await page.waitForSelector('#expr .cm-lintRange-error');
      assert.equal(await page.textContent('#expr .cm-lintRange-error'), culprit);
      assert.match(await page.textContent('#expr-status'), new RegExp(`${code}.*The text played last plays on`));
    }
    await page.waitForTimeout(300);
    await waitForScope(page, { 0: 0.5 });
    await page.screenshot({ path: screenshotPath('error.png'), fullPage: true });
    await replaceText(page, 'expr', 'out1 = 2;');
    await waitForScope(page, { 0: Math.fround(0.2) });
    assert.equal(await page.locator('#expr .cm-lintRange-error').count(), 0);
  }));

test('a hint shows with a failure, and warnings are underlined where check places them', () =>
  withPage(async (page) => {
    await replaceText(page, 'expr', 'out1 = 5 ^ 2;');
    await page.waitForSelector('#expr .cm-lintRange-error');
    assert.equal(await page.textContent('#expr .cm-lintRange-error'), '^');
    assert.match(await page.textContent('#expr-notes'), /Hint: .*pow/);
    await replaceText(page, 'expr', 'out1 = gain * u;');
    await page.waitForSelector('#expr .cm-lintRange-warning');
    assert.equal(await page.textContent('#expr .cm-lintRange-warning'), 'gain');
    assert.match(await page.textContent('#expr-notes'), /Warning: gain/);
    assert.match(await page.textContent('#expr-status'), /Parses/);
    // Init writing it answers the warning on Expr.
    await replaceText(page, 'init', 'gain = 3;');
    await page.waitForFunction(() => document.querySelectorAll('#expr .cm-lintRange-warning').length === 0);
    assert.equal(await page.textContent('#expr-notes'), '');
  }));

test('a gallery entry loads both texts and plays, Init included', () =>
  withPage(async (page) => {
    await startSound(page);
    const bell = gallery.find((patch) => patch.id === 'example:bell');
    await page.click('#gallery button[data-patch="example:bell"]');
    assert.equal(await editorText(page, 'expr'), bell.expr);
    assert.equal(await editorText(page, 'init'), bell.init);
    await page.waitForFunction(() => window.quorvel.scopeFrame()?.values[0].some((v) => Math.abs(v) > 0.05));
    // Init ran in the worklet: decay is what it computes at the context's rate.
    const { decay, rate } = await page.waitForFunction(() => {
      const row = [...document.querySelectorAll('#watch tr')].find((tr) => tr.cells[0].textContent === 'decay');
      return row && Number(row.cells[1].textContent) > 0 && { decay: Number(row.cells[1].textContent), rate: window.quorvel.page.audio.context.sampleRate };
    }).then((handle) => handle.jsonValue());
    assert.ok(Math.abs(decay - Math.exp(-1 / (0.4 * rate))) < 1e-8, `decay ${decay}`);
    await page.screenshot({ path: screenshotPath('playing.png'), fullPage: true });
    for (const patch of gallery.filter((entry) => entry.group === 'recipes').slice(0, 3)) {
      await page.click(`#gallery button[data-patch="${patch.id}"]`);
      assert.equal(await editorText(page, 'expr'), patch.expr);
      assert.match(await page.textContent('#expr-status'), /Parses/);
    }
  }));

test('a shared link restores both texts and the inputs', () =>
  withPage(async (page) => {
    await replaceText(page, 'expr', 'out1 = v * gain; < ünïcode 🎹 >');
    await replaceText(page, 'init', 'gain = 2;');
    const row = page.locator('#inputs tr[data-input="v"]');
    await row.locator('.kind').selectOption('square');
    await row.locator('.level').evaluate((input) => {
      input.value = '-0.35';
      input.dispatchEvent(new Event('input', { bubbles: true }));
    });
    await row.locator('.freq').fill('3.5');
    await page.click('#share');
    const link = await page.inputValue('#link');
    assert.match(link, /#p=/);
    const expected = await page.evaluate(() => window.quorvel.page.inputs);
    assert.deepEqual(expected[1], { kind: 'square', level: -0.35, freq: 3.5 });
    await withPage(async (other) => {
      assert.equal(await editorText(other, 'expr'), 'out1 = v * gain; < ünïcode 🎹 >');
      assert.equal(await editorText(other, 'init'), 'gain = 2;');
      assert.deepEqual(await other.evaluate(() => window.quorvel.page.inputs), expected);
      const restored = other.locator('#inputs tr[data-input="v"]');
      assert.equal(await restored.locator('.kind').inputValue(), 'square');
      assert.equal(await restored.locator('.freq').inputValue(), '3.5');
      assert.equal(await other.isVisible('#banner'), false);
    }, new URL(link).hash);
  }));

test('a runaway text shows that it exceeded the budget, and the page stays responsive', () =>
  withPage(async (page) => {
    await startSound(page);
    await replaceText(page, 'expr', 'for(k = 0, 1, k = k + 1, 0); out1 = 1;');
    await page.waitForFunction(() => /exceeded its evaluation budget/.test(document.querySelector('#run-status').textContent));
    await waitForScope(page, { 0: 0 });
    await assertResponsive(page);
    await replaceText(page, 'expr', 'out1 = 2;', { typed: true });
    await waitForScope(page, { 0: Math.fround(0.2) });
    await page.waitForFunction(() => /runs at every sample/.test(document.querySelector('#run-status').textContent));
  }));

test('a huge paste and control characters give a message, never a frozen tab', () =>
  withPage(async (page) => {
    await startSound(page);
    await replaceText(page, 'expr', 'out1 = 3;');
    await waitForScope(page, { 0: Math.fround(0.3) });
    await paste(page, 'expr', `out1 = 1; ${'x = x + 1; '.repeat(200000)}`);
    await page.waitForFunction(() => /takes texts of up to/.test(document.querySelector('#expr-status').textContent));
    await assertResponsive(page);
    await waitForScope(page, { 0: Math.fround(0.3) });
    // A control character shows as a placeholder, which an underline
    // cannot mark: the line's marker and the message point at it.
    await replaceText(page, 'expr', 'out1 = 1;\u0001\u0007 out2 = 2;');
    await page.waitForSelector('#expr .cm-lint-marker-error');
    assert.match(await page.textContent('#expr-status'), /EXPR_ERR_CHARACTER \(statement 2\)/);
    await replaceText(page, 'expr', 'out1 = 1;\u0000');
    await page.waitForFunction(() => /NUL/.test(document.querySelector('#expr-notes').textContent));
    await assertResponsive(page);
  }));

const GARBAGE_LINKS = [
  ['#p=%%%', /damaged/],
  ['#p=' + Buffer.from('{"v":1,"expr":5,"init":""}').toString('base64url'), /texts are missing/],
  ['#p=' + Buffer.from('{"v":7}').toString('base64url'), /another version/],
  ['#p=' + Buffer.from('{"v":1,"expr":"out1 = 1;","init":"","inputs":[{"kind":"laser"}]}').toString('base64url'), /reset/],
];

for (const [hash, message] of GARBAGE_LINKS)
  test(`a link with garbage in it gives a message: ${hash.slice(0, 24)}`, () =>
    withPage(async (page) => {
      assert.match(await page.textContent('#banner'), message);
      assert.notEqual(await editorText(page, 'expr'), '');
      await assertResponsive(page);
    }, hash));

test('a link whose text is too long to play gives a message and plays silence', () => {
  const hash = '#p=' + Buffer.from(JSON.stringify({ v: 1, expr: `out1 = 1; ${'< long note > '.repeat(30000)}`, init: '', inputs: [] })).toString('base64url');
  return withPage(async (page) => {
    assert.match(await page.textContent('#expr-status'), /takes texts of up to .* Silent until a text parses/);
    await startSound(page);
    await page.waitForTimeout(300);
    await waitForScope(page, { 0: 0 });
    await assertResponsive(page);
  }, hash);
});

test('a render downloads a three-channel float WAV of the playing patch', () =>
  withPage(async (page) => {
    await replaceText(page, 'expr', 'out1 = 5; out2 = sample; out3 = -1;');
    await page.fill('#seconds', '0.5');
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#render')]);
    assert.equal(download.suggestedFilename(), 'quorvel.wav');
    const { rate, channels } = decodeWav(fs.readFileSync(await download.path()));
    assert.equal(rate, 48000);
    assert.equal(channels.length, 3);
    assert.equal(channels[0].length, 24000);
    assert.ok(channels[0].every((v) => v === 0.5));
    assert.equal(channels[1][23999], Math.fround(23999 * 0.1));
    assert.ok(channels[2].every((v) => v === Math.fround(-0.1)));
  }));
