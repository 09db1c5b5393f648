// A musician's session on the playground in headless Chromium: an edit
// plays only when asked (or after a pause in typing, when live), Init says
// what became of it, the health strip shows overload, NaN and loud outputs,
// and the inputs panel takes what is typed and fits its place.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { replaceText, startSound, waitForScope } from '../support/actions.mjs';
import { openBrowser, openPage, screenshotPath } from '../support/browser.mjs';

let browser;

before(async () => {
  browser = await openBrowser();
});

after(async () => {
  await browser?.close();
});

// A fresh page; `use` gets it, and its console must stay clean.
async function withPage(use, options = {}) {
  const session = await openPage(browser, options.hash ?? '');
  try {
    if (options.viewport) await session.page.setViewportSize(options.viewport);
    await use(session.page);
    assert.deepEqual(session.errors, []);
  } finally {
    await session.page.close();
  }
}

// From now on, every value the scope draws for each output, and every
// variable name the watch lists, gathered in the page.
function recordViews(page) {
  return page.evaluate(() => {
    const seen = { values: [new Set(), new Set(), new Set()], names: new Set() };
    window.seen = seen;
    const look = () => {
      const frame = window.quorvel.scopeFrame();
      frame?.values.forEach((values, k) => values.forEach((v) => seen.values[k].add(v)));
      for (const row of document.querySelectorAll('#watch tr')) seen.names.add(row.cells[0].textContent);
      requestAnimationFrame(look);
    };
    look();
  });
}

const seenViews = (page) =>
  page.evaluate(() => ({ values: window.seen.values.map((set) => [...set]), names: [...window.seen.names] }));

test('typing a patch key by key never replaces the playing text with a prefix', () =>
  withPage(async (page) => {
    await startSound(page);
    await replaceText(page, 'expr', 'out1 = 5;');
    await waitForScope(page, { 0: 0.5 });
    await recordViews(page);
    // Every line ends a prefix that parses: each would change out1 or the
    // variables if it went live.
    const patch = '< tremolo on u >\nlp = fpart(lp + 4 / rate);\nout1 = 2;\nout1 = 3 + sin(2 * M_PI * lp);';
    await replaceText(page, 'expr', patch, { typed: true, play: false, delay: 5 });
    await page.waitForTimeout(1000);
    assert.match(await page.textContent('#expr-status'), /not playing yet/);
    assert.equal(await page.locator('#expr .cm-differs').count(), 4);
    await page.screenshot({ path: screenshotPath('typing.png'), fullPage: true });
    let seen = await seenViews(page);
    assert.deepEqual(seen.values[0], [0.5]);
    assert.ok(!seen.names.includes('lp'), 'a prefix reached the worklet');

    await page.keyboard.press('Control+Enter');
    await page.waitForFunction(() => window.quorvel.scopeFrame().values[0].some((v) => v > 0.2 && v < 0.4 && v !== 0.3));
    await page.waitForFunction(() => [...document.querySelectorAll('#watch th')].some((th) => th.textContent === 'lp'));
    assert.equal(await page.locator('#expr .cm-differs').count(), 0);
    assert.match(await page.textContent('#expr-status'), /playing this text/);

    // Live as I type: only a pause plays, never a prefix typed on the way.
    await page.check('#live');
    await replaceText(page, 'expr', 'out2 = 1;', { play: false });
    await page.waitForTimeout(300);
    await waitForScope(page, { 1: 0 }, 200).catch(() => assert.fail('out2 went live before the pause'));
    await waitForScope(page, { 1: Math.fround(0.1) });
    await recordViews(page);
    await page.keyboard.type('\nout2 = 2;\nout2 = 3;', { delay: 100 });
    await waitForScope(page, { 1: Math.fround(0.3) });
    seen = await seenViews(page);
    assert.deepEqual(seen.values[1].sort(), [Math.fround(0.1), Math.fround(0.3)].sort());
  }));

test('an Init stopped by its budget says so, and Stop then Start runs Init again', () =>
  withPage(async (page) => {
    await startSound(page);
    await replaceText(page, 'init', 'for(k = 0, 1, k = k + 1, 0); late = 7;', { play: false });
    await replaceText(page, 'expr', 'out1 = late;');
    await page.click('#restart');
    await page.waitForFunction(() => /exceeded its evaluation budget .* stopped/.test(document.querySelector('#init-run').textContent));
    await waitForScope(page, { 0: 0 });
    assert.doesNotMatch(await page.textContent('#init-run'), /Init ran/);

    await replaceText(page, 'init', 'runs = runs + 1;', { play: false });
    await replaceText(page, 'expr', 'out1 = runs;');
    assert.match(await page.textContent('#init-run'), /runs at the first sample after the next start or restart/);
    await page.click('#restart');
    await waitForScope(page, { 0: Math.fround(0.1) });
    await page.waitForFunction(() => /^Init ran/.test(document.querySelector('#init-run').textContent));
    // Stop, then Start: the module opens again, Init runs once more and
    // the variables keep their values.
    await page.click('#play');
    await page.waitForFunction(() => document.querySelector('#state').textContent === 'stopped');
    await startSound(page);
    await waitForScope(page, { 0: Math.fround(0.2) });
    assert.match(await page.textContent('h2:has(+ #init) small'), /after a start or a restart/);
  }));

// The strip's state once `check` holds for it.
function waitForHealth(page, check, timeout = 10000) {
  return page.waitForFunction(check, null, { timeout }).then(() => page.evaluate(() => window.quorvel.health()));
}

test('the health strip reports a heavy loop, a NaN output and a loud output, and the limiter acts for the ears only', () =>
  withPage(async (page) => {
    await startSound(page);
    await replaceText(page, 'expr', 'for(i = 0, below(i, 9000), i = i + 1, s = s + i); out1 = 1;');
    const heavy = await waitForHealth(page, () => window.quorvel.health()?.warning);
    assert.ok(heavy.share > 0.7, `share ${heavy.share}`);
    assert.match(await page.textContent('#health'), /Engine: \d+ % of the audio budget/);
    await page.screenshot({ path: screenshotPath('health-heavy.png'), fullPage: true });

    await replaceText(page, 'expr', 'out1 = sqrt(-1); out2 = 2;');
    const nan = await waitForHealth(page, () => window.quorvel.health()?.nonFinite[0] > 0 && !window.quorvel.health().warning);
    assert.equal(nan.nonFinite[1], 0);
    assert.match(await page.textContent('#health'), /out1: [\d,]+ NaN or infinite/);

    await replaceText(page, 'expr', 'out1 = 100 * sin(2 * M_PI * 220 * time);');
    const loud = await waitForHealth(page, () => window.quorvel.health()?.over[0] > 0 && window.quorvel.health().nonFinite[0] === 0);
    assert.deepEqual(loud.limited, ['out1']);
    assert.match(await page.textContent('#health'), /out1: [\d,]+ beyond full scale.*Limiter acted on out1/);
    await page.waitForTimeout(300);
    await page.screenshot({ path: screenshotPath('health.png'), fullPage: true });
    // The render is untouched by the limiter: full of samples near 10.
    const peak = await page.evaluate(async () => {
      const { outputs } = await window.quorvel.render(0.1);
      return outputs[0].reduce((m, v) => Math.max(m, Math.abs(v)), 0);
    });
    assert.ok(peak > 9.9, `render peak ${peak}`);

    await replaceText(page, 'expr', 'out1 = 5 * sin(2 * M_PI * 220 * time);');
    await waitForHealth(page, () => window.quorvel.health()?.over[0] === 0);
    assert.match(await page.textContent('#health'), /no NaN, nothing beyond full scale.*Limiter: idle/);
  }));
