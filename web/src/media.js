// The musician's own sound on the inputs: an audio file (chosen or dropped,
// decoded by the browser, resampled to the context's rate, looped, with a
// gain), the microphone or any capture device (asked for only when chosen),
// and the keys (keys.js, midi.js). What each input's row shows about its
// source, and what the worklet needs of it: the file's samples at its rate,
// the devices on the node's input, the keys' levels.
import { FILE, MICROPHONE, settingForKind } from './sources.js';
import { KEY_GATE, KEY_KINDS, KEY_PITCH, KEY_VELOCITY, ZERO_NOTE } from './keys.js';
import { Keys, noteName } from './midi.js';
import { readWavSamples } from './wav.js';

// The rate a file is first decoded at, to show its length, before the
// sound has started.
const FIRST_RATE = 48000;

// What the key kinds give, said beside the control.
const KEY_HELP = {
  [KEY_PITCH]: `1 unit per octave, 0 at ${noteName(ZERO_NOTE)} (MIDI ${ZERO_NOTE}, 440 Hz): 440 * pow(2, NAME) is the note`,
  [KEY_GATE]: 'reads 5 while a key is held, else 0',
  [KEY_VELOCITY]: 'reads 0 … 10, the velocity',
};

function describeSeconds(seconds) {
  return seconds < 60 ? `${seconds.toFixed(2)} s` : `${Math.floor(seconds / 60)} min ${(seconds % 60).toFixed(1)} s`;
}

// Why a capture device gave nothing, in the musician's words.
function captureFailure(error, name) {
  const silent = `${name} is silent; the rest plays on.`;
  switch (error?.name) {
    case 'NotAllowedError':
    case 'SecurityError':
      return `The microphone was refused, so ${silent} Allow it for this page in the browser, then press “Ask again”.`;
    case 'NotFoundError':
    case 'OverconstrainedError':
      return `No microphone or other capture device was found, so ${silent}`;
    case 'NotReadableError':
      return `The capture device is busy or failed to start, so ${silent}`;
    default:
      return `The microphone could not be opened (${error?.message || error}), so ${silent}`;
  }
}

// A file's samples at `rate`. A WAV file is read as `quorvel render` reads
// it, so that at the file's own rate both feed the same bits (the browser's
// decoder scales whole numbers otherwise), and resampled by the browser at
// any other; anything else the browser decodes and resamples itself.
async function decodeAt(bytes, rate) {
  const wav = readWavSamples(bytes);
  if (wav && wav.channels[0].length > 0 && wav.rate === rate) return { channels: wav.channels, seconds: wav.channels[0].length / rate };
  if (wav && wav.channels[0].length > 0) return { channels: await resample(wav, rate), seconds: wav.channels[0].length / wav.rate };
  const buffer = await new OfflineAudioContext(1, 1, rate).decodeAudioData(bytes.slice(0));
  const channels = Array.from({ length: buffer.numberOfChannels }, (_, c) => buffer.getChannelData(c));
  return { channels, seconds: buffer.duration };
}

// The browser's resampler, run offline.
async function resample({ rate: from, channels }, rate) {
  const frames = Math.max(1, Math.round((channels[0].length * rate) / from));
  const context = new OfflineAudioContext(channels.length, frames, rate);
  const buffer = new AudioBuffer({ numberOfChannels: channels.length, length: channels[0].length, sampleRate: from });
  channels.forEach((channel, c) => buffer.copyToChannel(channel, c));
  const source = new AudioBufferSourceNode(context, { buffer });
  source.connect(context.destination);
  source.start();
  const rendered = await context.startRendering();
  return Array.from({ length: channels.length }, (_, c) => rendered.getChannelData(c));
}

export class Sources {
  // names: the input pins' names; inputs(): the page's settings (changed
  // in place); shown(): after a setting changed here, to show and send it.
  constructor({ names, inputs, shown }) {
    this.names = names;
    this.inputs = inputs;
    this.shown = shown;
    this.files = names.map(() => null); // {name, bytes, channels, seconds, decoded: Map(rate → Promise<{channels, seconds}>)}
    this.notes = names.map(() => null); // a message for the row, {text, error}
    this.microphone = { stream: null, asking: null, label: '' };
    this.live = null; // {context, node, merger, mono, source}
    this.cells = [];
    this.keys = new Keys({
      changed: (levels) => {
        this.post({ type: 'keys', levels });
        this.#showKeys();
      },
    });
  }

  // To the live worklet, if there is one.
  post(message, transfer = []) {
    this.live?.node.port.postMessage(message, transfer);
  }

  // The node's input: one channel per input pin, each a capture device's.
  nodeOptions() {
    return { numberOfInputs: 1, channelCount: this.names.length, channelCountMode: 'explicit', channelInterpretation: 'discrete' };
  }

  keyLevels() {
    return this.keys.state.levels();
  }

  // ---- Rows -------------------------------------------------------------------

  // Makes the source's controls for an input's row (a file chooser and its
  // channel, a button to ask again, a note) and the row a place to drop a
  // file. They sit under what the row says the input reads, in its cell.
  decorate(row, k) {
    const cell = document.createElement('div');
    cell.className = 'source';
    cell.innerHTML = `<input class="file" type="file" accept="audio/*,.wav,.flac,.ogg,.mp3" aria-label="${this.names[k]} audio file" hidden>
      <button class="choose" type="button">Choose a file…</button>
      <select class="channel" aria-label="${this.names[k]} file channel"></select>
      <button class="again" type="button"></button>
      <span class="source-note"></span>`;
    cell.querySelector('.choose').addEventListener('click', () => cell.querySelector('.file').click());
    cell.querySelector('.file').addEventListener('change', (event) => {
      const file = event.target.files?.[0];
      if (file) this.chooseFile(k, file);
    });
    cell.querySelector('.channel').addEventListener('change', (event) => this.#setFileChannel(k, Number(event.target.value)));
    cell.querySelector('.again').addEventListener('click', () => this.#again(k));
    row.addEventListener('dragover', (event) => {
      if (event.dataTransfer?.types.includes('Files')) {
        event.preventDefault();
        row.classList.add('dropping');
      }
    });
    row.addEventListener('dragleave', () => row.classList.remove('dropping'));
    row.addEventListener('drop', (event) => {
      row.classList.remove('dropping');
      const file = event.dataTransfer?.files?.[0];
      if (!file) return;
      event.preventDefault();
      this.chooseFile(k, file);
    });
    row.querySelector('.reads').after(cell);
    this.cells[k] = cell;
  }

  // The final setting when the row's controls changed it from `previous`
  // (settingForKind gave a new kind its level): a file keeps its name and
  // channel, and choosing a device or the keys asks for them.
  changed(k, setting, previous) {
    const next = { ...setting };
    const fresh = previous?.kind !== next.kind;
    if (next.kind === FILE) {
      next.name = previous?.kind === FILE ? previous.name : (this.files[k]?.name ?? '');
      next.channel = previous?.kind === FILE ? previous.channel : 0;
    }
    if (fresh) this.notes[k] = null;
    if (fresh && next.kind === MICROPHONE) queueMicrotask(() => this.#openMicrophone(k));
    if (fresh && KEY_KINDS.includes(next.kind)) queueMicrotask(() => this.keys.connect());
    if (fresh || next.kind === MICROPHONE) queueMicrotask(() => this.#route());
    return next;
  }

  // What the row says of its source; called whenever the row is shown.
  show(row, setting) {
    const k = this.names.indexOf(row.dataset.input);
    const cell = this.cells[k];
    if (!cell) return;
    const { kind } = setting;
    const file = this.files[k];
    const loaded = kind === FILE && file && file.name === setting.name;
    if (kind === FILE && !loaded && file) this.#forgetFile(k);
    cell.querySelector('.choose').hidden = kind !== FILE;
    row.classList.toggle('keys', KEY_KINDS.includes(kind));
    const channel = cell.querySelector('.channel');
    channel.hidden = !loaded || file.channels < 2;
    if (loaded && channel.options.length !== file.channels)
      channel.replaceChildren(...Array.from({ length: file.channels }, (_, c) => new Option(`channel ${c + 1}`, String(c))));
    if (loaded) channel.value = String(setting.channel);
    // The keys set their own levels: no slider or typed level for them.
    for (const control of row.querySelectorAll('.level, .level-value')) control.hidden = KEY_KINDS.includes(kind);
    const name = this.names[k];
    const reads = row.querySelector('.reads');
    if (kind === FILE || kind === MICROPHONE)
      reads.textContent = `gain ${setting.level.toFixed(2)} (${name} up to ±${Math.abs(setting.level * 10).toFixed(1)})`;
    else if (KEY_KINDS.includes(kind)) reads.textContent = KEY_HELP[kind].replace('NAME', name);
    this.#showAgain(k, kind);
    // A short note beside the control; a problem in full under the table.
    const said = this.#note(k, setting, loaded);
    cell.querySelector('.source-note').textContent = said && !said.error ? said.text : '';
    this.#showProblem(k, said?.error ? said.text : '');
    this.keys.listen(this.inputs().some((input) => KEY_KINDS.includes(input.kind)));
    this.#showKeys();
    if (this.microphone.stream && !this.inputs().some((input) => input.kind === MICROPHONE)) this.#route();
  }

  #note(k, setting, loaded) {
    const { kind } = setting;
    if (this.notes[k] && (kind === FILE || kind === MICROPHONE)) return this.notes[k];
    if (kind === FILE) {
      const file = this.files[k];
      if (loaded) {
        const channels = file.channels === 1 ? 'mono' : `channel ${setting.channel + 1} of ${file.channels}`;
        return { text: `${file.name}: ${describeSeconds(file.seconds)}, ${channels}, looped` };
      }
      if (setting.name) return { text: `${setting.name} is not loaded here: choose or drop it to hear it.`, error: true };
      return { text: 'Choose an audio file, or drop one on this row.' };
    }
    if (kind === MICROPHONE) {
      if (this.microphone.stream) return { text: this.microphone.label || 'the microphone' };
      if (this.microphone.asking) return { text: 'asking for the microphone…' };
      return { text: 'The microphone is asked for only when you choose it.' };
    }
    return null;
  }

  #showProblem(k, text) {
    const list = this.#lineAfterTable('source-problems', 'ul');
    let item = list?.querySelector(`li[data-input="${this.names[k]}"]`);
    if (!list || (!item && !text)) return;
    if (!item) {
      item = document.createElement('li');
      item.dataset.input = this.names[k];
      const at = [...list.children].find((other) => this.names.indexOf(other.dataset.input) > k);
      list.insertBefore(item, at ?? null);
    }
    if (text) item.textContent = `${this.names[k]}: ${text}`;
    else item.remove();
  }

  // An element of the inputs panel under the table, made when first needed.
  #lineAfterTable(id, tag) {
    const existing = document.getElementById(id);
    if (existing) return existing;
    const table = this.cells.find(Boolean)?.closest('table');
    if (!table) return null;
    const line = document.createElement(tag);
    line.id = id;
    table.after(line);
    return line;
  }

  // A button to ask for a device or MIDI again, where there is none.
  #showAgain(k, kind) {
    const again = this.cells[k].querySelector('.again');
    again.hidden = !(kind === MICROPHONE && !this.microphone.stream) && !(KEY_KINDS.includes(kind) && !this.keys.midi);
    again.textContent = kind === MICROPHONE ? (this.notes[k]?.error ? 'Ask again' : 'Use the microphone') : 'Connect MIDI';
  }

  // The keys' line under the inputs, while an input takes the keys.
  #showKeys() {
    const line = this.#lineAfterTable('keys-status', 'p');
    if (!line) return;
    line.className = 'hint';
    const used = this.inputs().some((setting) => KEY_KINDS.includes(setting.kind));
    line.hidden = !used;
    line.textContent = used ? `Keys: ${this.keys.describe()}` : '';
    this.inputs().forEach((setting, k) => this.#showAgain(k, setting.kind));
  }

  #refresh() {
    this.shown();
  }

  #again(k) {
    const kind = this.inputs()[k]?.kind;
    if (kind === MICROPHONE) {
      this.notes[k] = null;
      this.#openMicrophone(k);
    } else this.keys.connect().then(() => this.#refresh());
  }

  // ---- Files ----------------------------------------------------------------

  async chooseFile(k, file) {
    const setting = this.inputs()[k];
    this.notes[k] = { text: `reading ${file.name}…` };
    this.inputs()[k] = { ...settingForKind(setting, FILE), name: file.name, channel: 0 };
    this.files[k] = null;
    this.#refresh();
    try {
      const bytes = await file.arrayBuffer();
      const entry = { name: file.name, bytes, channels: 0, seconds: 0, decoded: new Map() };
      const decoded = await this.#decode(entry, this.live?.context.sampleRate ?? FIRST_RATE);
      entry.channels = decoded.channels.length;
      entry.seconds = decoded.seconds;
      if (this.inputs()[k].name !== file.name) return;
      this.files[k] = entry;
      this.notes[k] = null;
      this.#sendFile(k);
    } catch (error) {
      this.notes[k] = { text: `${file.name}: this browser cannot decode it (${error?.message || error}), so ${this.names[k]} is silent.`, error: true };
      this.post({ type: 'media', input: k, samples: null });
    }
    this.#refresh();
  }

  // The file decoded and resampled to `rate`, once per rate:
  // {channels, seconds}.
  #decode(entry, rate) {
    if (!entry.decoded.has(rate)) entry.decoded.set(rate, decodeAt(entry.bytes, rate));
    return entry.decoded.get(rate);
  }

  // The samples input k plays at `rate`, or null.
  async #samples(k, rate) {
    const setting = this.inputs()[k];
    const file = this.files[k];
    if (setting?.kind !== FILE || !file || file.name !== setting.name) return null;
    const { channels } = await this.#decode(file, rate);
    return channels[Math.min(setting.channel, channels.length - 1)].slice();
  }

  async #sendFile(k) {
    if (!this.live) return;
    const samples = await this.#samples(k, this.live.context.sampleRate);
    this.post({ type: 'media', input: k, samples }, samples ? [samples.buffer] : []);
  }

  #setFileChannel(k, channel) {
    this.inputs()[k] = { ...this.inputs()[k], channel };
    this.#sendFile(k);
    this.#refresh();
  }

  #forgetFile(k) {
    this.files[k] = null;
    this.post({ type: 'media', input: k, samples: null });
  }

  // Per input, the samples an offline render at `rate` feeds it.
  mediaAt(rate) {
    return Promise.all(this.names.map((_, k) => this.#samples(k, rate)));
  }

  // ---- The live node ---------------------------------------------------------

  // Called once the live worklet exists: its files at its rate, and the
  // devices on its input.
  async connect(context, node) {
    const merger = context.createChannelMerger(this.names.length);
    // One channel of the device: its channels mixed down to mono.
    const mono = context.createGain();
    mono.channelCount = 1;
    mono.channelCountMode = 'explicit';
    mono.channelInterpretation = 'speakers';
    merger.connect(node);
    this.live = { context, node, merger, mono, source: null };
    this.#route();
    await Promise.all(this.names.map((_, k) => this.#sendFile(k)));
  }

  // ---- Capture devices --------------------------------------------------------

  async #openMicrophone(k) {
    const microphone = this.microphone;
    if (!microphone.stream) {
      if (!navigator.mediaDevices?.getUserMedia) {
        this.notes[k] = { text: `This browser offers no capture device to this page, so ${this.names[k]} is silent.`, error: true };
        this.#refresh();
        return;
      }
      microphone.asking ??= navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
      });
      this.#refresh();
      try {
        microphone.stream = await microphone.asking;
        microphone.label = microphone.stream.getAudioTracks()[0]?.label ?? '';
        this.notes.forEach((note, n) => {
          if (this.inputs()[n]?.kind === MICROPHONE) this.notes[n] = null;
        });
      } catch (error) {
        this.notes[k] = { text: captureFailure(error, this.names[k]), error: true };
      } finally {
        microphone.asking = null;
      }
    }
    this.#route();
    this.#refresh();
  }

  // The device to every input that takes it, nothing to the others; the
  // device is let go when no input takes it.
  #route() {
    const users = this.inputs()
      .map((setting, k) => (setting.kind === MICROPHONE ? k : -1))
      .filter((k) => k >= 0);
    const microphone = this.microphone;
    if (users.length === 0 && microphone.stream) {
      microphone.stream.getTracks().forEach((track) => track.stop());
      microphone.stream = null;
    }
    const live = this.live;
    if (!live) return;
    live.mono.disconnect();
    if (live.source && live.source.mediaStream !== microphone.stream) {
      live.source.disconnect();
      live.source = null;
    }
    if (!microphone.stream) return;
    if (!live.source) {
      live.source = live.context.createMediaStreamSource(microphone.stream);
      live.source.connect(live.mono);
    }
    for (const k of users) live.mono.connect(live.merger, 0, k);
  }
}
