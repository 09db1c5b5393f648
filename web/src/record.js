// Recording the live outputs as they play, untouched by the level or
// anything on the listening path, into a WAV laid out as `quorvel render`
// writes it. The worklet copies each block into chunks the page lent it and
// hands a chunk back when it is full, so the audio thread allocates nothing
// per block; the page gathers the chunks and lends them out again.
import { encodeWav } from './wav.js';

// Frames per chunk: one message per 32 render quanta.
export const CHUNK_FRAMES = 4096;
// Chunks lent at once: at 48 kHz 0.34 s of slack for a busy page.
const CHUNKS_LENT = 4;

// The worklet's side: the chunks it was lent and the one it is filling.
export class BlockRecorder {
  constructor(port) {
    this.port = port;
    this.channels = null; // output numbers recorded, null when not recording
    this.free = [];
    this.chunk = null;
    this.at = 0;
    this.lost = 0;
  }

  // A message from the page; true when it was the recorder's.
  receive(message) {
    switch (message.type) {
      case 'record-start':
        this.channels = message.channels;
        this.free = [];
        this.chunk = null;
        this.at = 0;
        this.lost = 0;
        for (const buffer of message.buffers) this.lend(buffer);
        return true;
      case 'record-lend':
        if (this.channels) this.lend(message.buffer);
        return true;
      case 'record-stop':
        if (this.channels) this.#send(true);
        this.channels = null;
        this.free = [];
        return true;
      default:
        return false;
    }
  }

  // A chunk's views, made when it arrives rather than at each block.
  lend(buffer) {
    const views = this.channels.map((_, k) => new Float32Array(buffer, k * CHUNK_FRAMES * 4, CHUNK_FRAMES));
    this.free.push({ buffer, views });
  }

  // Copies one block of the outputs (`outputs(k)` gives output k's block).
  write(outputs, frames) {
    if (!this.channels) return;
    let done = 0;
    while (done < frames) {
      if (!this.chunk) {
        this.chunk = this.free.pop() ?? null;
        this.at = 0;
        if (!this.chunk) {
          this.lost += frames - done;
          return;
        }
      }
      const count = Math.min(frames - done, CHUNK_FRAMES - this.at);
      for (let c = 0; c < this.channels.length; c++) {
        const from = outputs(this.channels[c]);
        const to = this.chunk.views[c];
        for (let i = 0; i < count; i++) to[this.at + i] = from[done + i];
      }
      this.at += count;
      done += count;
      if (this.at === CHUNK_FRAMES) this.#send(false);
    }
  }

  #send(last) {
    const chunk = this.chunk;
    const message = { type: 'recorded', buffer: chunk?.buffer ?? null, frames: chunk ? this.at : 0, lost: this.lost, last };
    this.port.postMessage(message, chunk ? [chunk.buffer] : []);
    this.chunk = null;
    this.at = 0;
  }
}

// The page's side: lends the chunks, gathers what comes back.
export class Recording {
  // post: sends a message to the worklet; channels: the outputs recorded.
  constructor(post, channels, rate) {
    this.post = post;
    this.channels = channels;
    this.rate = rate;
    this.parts = channels.map(() => []);
    this.frames = 0;
    this.lost = 0;
    this.finished = null;
    this.done = new Promise((resolve) => (this.finished = resolve));
    const bytes = CHUNK_FRAMES * 4 * channels.length;
    const buffers = Array.from({ length: CHUNKS_LENT }, () => new ArrayBuffer(bytes));
    post({ type: 'record-start', channels, buffers }, buffers);
  }

  seconds() {
    return this.frames / this.rate;
  }

  // A 'recorded' message from the worklet.
  receive({ buffer, frames, lost, last }) {
    this.lost = lost;
    if (buffer) {
      this.channels.forEach((_, c) => this.parts[c].push(new Float32Array(buffer, c * CHUNK_FRAMES * 4, frames).slice()));
      this.frames += frames;
      if (!last) this.post({ type: 'record-lend', buffer }, [buffer]);
    }
    if (last) this.finished(this.#wav());
  }

  // Asks the worklet for the rest; resolves to {wav, frames, channels}.
  stop() {
    this.post({ type: 'record-stop' });
    return this.done;
  }

  #wav() {
    const channels = this.parts.map((parts) => {
      const whole = new Float32Array(this.frames);
      let at = 0;
      for (const part of parts) {
        whole.set(part, at);
        at += part.length;
      }
      return whole;
    });
    return { wav: encodeWav(channels, this.rate), frames: this.frames, channels: channels.length, lost: this.lost };
  }
}
