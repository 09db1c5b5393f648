// Recording in chunks lent to the worklet: every frame arrives once, in
// order, whatever the block sizes; a page too slow to lend chunks back
// loses frames and is told how many; the file is the render's layout.
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { BlockRecorder, CHUNK_FRAMES, Recording } from '../../src/record.js';
import { decodeWav } from '../../src/wav.js';

// A worklet and a page joined by a message queue the test delivers.
function pair(channels, { lendBack = true } = {}) {
  const toPage = [];
  const recorder = new BlockRecorder({ postMessage: (message) => toPage.push(message) });
  const recording = new Recording(
    (message) => {
      if (message.type === 'record-lend' && !lendBack) return;
      recorder.receive(structuredClone(message));
    },
    channels,
    48000,
  );
  const deliver = () => {
    while (toPage.length) recording.receive(toPage.shift());
  };
  return { recorder, recording, deliver };
}

// Output k's block starting at frame `start`: k * 1e6 + frame, exact in a float.
const blockOf = (start, frames) => (k) => Float32Array.from({ length: frames }, (_, i) => k * 1e6 + start + i);

test('every frame of the recorded outputs arrives, in order, across chunks and odd block sizes', async () => {
  const { recorder, recording, deliver } = pair([2, 0]);
  let start = 0;
  for (const frames of [128, 128, 1, 4095, 128, 3000, 9000, 77]) {
    recorder.write(blockOf(start, frames), frames);
    start += frames;
    deliver();
  }
  const finished = recording.stop();
  deliver();
  const { wav, frames, channels, lost } = await finished;
  assert.equal(frames, start);
  assert.equal(channels, 2);
  assert.equal(lost, 0);
  const file = decodeWav(wav);
  assert.equal(file.rate, 48000);
  assert.deepEqual(file.channels[0], Float32Array.from({ length: start }, (_, i) => 2e6 + i));
  assert.deepEqual(file.channels[1], Float32Array.from({ length: start }, (_, i) => i));
});

test('a page that lends no chunk back loses frames beyond the ones lent, and says so', async () => {
  const { recorder, recording, deliver } = pair([0], { lendBack: false });
  const total = 10 * CHUNK_FRAMES;
  for (let start = 0; start < total; start += 128) recorder.write(blockOf(start, 128), 128);
  deliver();
  const finished = recording.stop();
  deliver();
  const { frames, lost } = await finished;
  assert.equal(frames + lost, total);
  assert.ok(lost > 0 && frames >= CHUNK_FRAMES, `${frames} kept, ${lost} lost`);
});

test('nothing is recorded before a start or after a stop', async () => {
  const { recorder, recording, deliver } = pair([1]);
  const finished = recording.stop();
  deliver();
  assert.equal((await finished).frames, 0);
  recorder.write(blockOf(0, 128), 128);
  assert.equal(recorder.chunk, null);
});
