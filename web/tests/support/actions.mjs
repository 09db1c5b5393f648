// What the browser tests do on the playground's page, as a person would:
// start the sound, type, paste and play texts, and wait for the scope.
import assert from 'node:assert/strict';

export async function startSound(page) {
  await page.click('#play');
  await page.waitForFunction(() => document.querySelector('#state').textContent.startsWith('playing'));
}

// Replaces an editor's text as typing it would, or as one paste, and plays
// it as Ctrl+Enter does unless `play` is false.
export async function replaceText(page, which, text, { typed = false, play = true, delay = 0 } = {}) {
  await page.click(`#${which} .cm-content`);
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Backspace');
  if (typed) await page.keyboard.type(text, { delay });
  else await page.keyboard.insertText(text);
  if (play) await page.keyboard.press('Control+Enter');
}

export async function paste(page, which, text) {
  await page.evaluate(
    ({ which, text }) => {
      const data = new DataTransfer();
      data.setData('text/plain', text);
      const target = document.querySelector(`#${which} .cm-content`);
      target.focus();
      target.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true, cancelable: true }));
    },
    { which, text },
  );
}

export const editorText = (page, which) => page.evaluate((which) => window.quorvel.page.editors[which].text(), which);

// Waits until every drawn point of each listed output equals its value.
export function waitForScope(page, expected, timeout = 5000) {
  return page.waitForFunction(
    (expected) => {
      const frame = window.quorvel.scopeFrame();
      return frame && Object.entries(expected).every(([k, value]) => frame.values[k].every((v) => v === value));
    },
    expected,
    { timeout },
  );
}

// The page answers within a second: a frame is drawn and a script runs.
export async function assertResponsive(page) {
  const started = Date.now();
  await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
  assert.ok(Date.now() - started < 1000, `the page took ${Date.now() - started} ms to draw a frame`);
}
