// The Record button: the live outputs (all three, or what the speakers
// get) captured as they play into a WAV file laid out as `quorvel render`
// writes it, its length shown while it grows.
import { Recording } from './record.js';

const FILE_NAME = 'quorvel-recording.wav';

export class Recorder {
  // container: where the controls go; audio(): the live {context, node} or
  // null; listened(): the outputs the speakers get.
  constructor(container, { audio, listened, outputCount }) {
    this.audio = audio;
    this.listened = listened;
    this.outputCount = outputCount;
    this.recording = null;
    this.timer = 0;
    container.innerHTML = `<button id="record" type="button">Record</button>
      <select id="record-what" aria-label="What to record">
        <option value="all">all outputs</option>
        <option value="listened">what I listen to</option>
      </select>
      <span id="record-status" class="hint"></span>
      <a id="record-download" hidden></a>`;
    this.button = container.querySelector('#record');
    this.what = container.querySelector('#record-what');
    this.status = container.querySelector('#record-status');
    this.link = container.querySelector('#record-download');
    this.button.addEventListener('click', () => (this.recording ? this.stop() : this.start()));
  }

  start() {
    const audio = this.audio();
    if (!audio || audio.context.state !== 'running') {
      this.status.textContent = 'Start the sound to record it.';
      return;
    }
    const channels = this.what.value === 'all' ? Array.from({ length: this.outputCount }, (_, k) => k) : this.listened();
    const post = (message, transfer = []) => audio.node.port.postMessage(message, transfer);
    this.recording = new Recording(post, channels, audio.context.sampleRate);
    this.button.textContent = 'Stop recording';
    this.button.classList.add('recording');
    this.what.disabled = true;
    this.link.hidden = true;
    this.#tick();
    this.timer = setInterval(() => this.#tick(), 100);
  }

  #tick() {
    const recording = this.recording;
    if (!recording) return;
    const lost = recording.lost > 0 ? ` (${(recording.lost / recording.rate).toFixed(2)} s lost: the page was too busy)` : '';
    this.status.textContent = `● recording ${recording.seconds().toFixed(1)} s, ${recording.channels.length} channel${recording.channels.length === 1 ? '' : 's'}${lost}`;
  }

  async stop() {
    const recording = this.recording;
    clearInterval(this.timer);
    this.button.disabled = true;
    this.status.textContent = 'finishing the recording…';
    try {
      const { wav, frames, channels } = await recording.stop();
      URL.revokeObjectURL(this.link.href);
      this.link.href = URL.createObjectURL(new Blob([wav], { type: 'audio/wav' }));
      this.link.download = FILE_NAME;
      this.link.textContent = `Download ${FILE_NAME} (${(frames / recording.rate).toFixed(2)} s, ${channels} channel${channels === 1 ? '' : 's'})`;
      this.link.hidden = false;
      this.status.textContent = '';
      this.link.click();
    } finally {
      this.recording = null;
      this.button.textContent = 'Record';
      this.button.classList.remove('recording');
      this.button.disabled = false;
      this.what.disabled = false;
    }
  }

  // A 'recorded' message from the worklet.
  receive(message) {
    this.recording?.receive(message);
    this.#tick();
  }
}
