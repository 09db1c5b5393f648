// The keys a musician plays: every MIDI keyboard Web MIDI offers (asked for
// only when an input takes the keys), and the computer keyboard for those
// without one. Both play one KeyState (keys.js); each change goes to the
// worklet at once and takes effect at the start of its next block, pitch,
// gate and velocity at the same sample.
import { KEYBOARD_FIRST_NOTE, KEYBOARD_LETTERS, KEYBOARD_VELOCITY, KeyState, keyboardNote, OCTAVE_KEYS, OCTAVE_RANGE } from './keys.js';

const NOTE_NAMES = ['C', 'C♯', 'D', 'D♯', 'E', 'F', 'F♯', 'G', 'G♯', 'A', 'A♯', 'B'];

// "A4" for MIDI note 69.
export function noteName(note) {
  return `${NOTE_NAMES[note % 12]}${Math.floor(note / 12) - 1}`;
}

// Where a key stroke belongs to what is being typed, not to the keys.
function typing(event) {
  const target = event.target;
  if (event.ctrlKey || event.metaKey || event.altKey) return true;
  if (!(target instanceof Element)) return false;
  return target.isContentEditable || target.closest('input, textarea, select, [contenteditable]') !== null;
}

export class Keys {
  // changed(levels): after every change of the keys' levels.
  constructor({ changed }) {
    this.changed = changed;
    this.state = new KeyState();
    this.octave = 0;
    this.midi = null; // the MIDIAccess, once granted
    this.midiNote = ''; // why there is none, or which keyboards play
    this.connecting = null;
    this.listening = false;
    this.down = new Map(); // computer key code → the note it plays
    this.onKeyDown = (event) => this.#keyDown(event);
    this.onKeyUp = (event) => this.#keyUp(event);
  }

  // The computer keyboard plays while an input takes the keys.
  listen(on) {
    if (on === this.listening) return;
    this.listening = on;
    const method = on ? 'addEventListener' : 'removeEventListener';
    window[method]('keydown', this.onKeyDown);
    window[method]('keyup', this.onKeyUp);
    window[method]('blur', this.onKeyUp);
  }

  #keyDown(event) {
    if (event.repeat || typing(event)) return;
    if (event.code in OCTAVE_KEYS) {
      this.octave = Math.min(OCTAVE_RANGE[1], Math.max(OCTAVE_RANGE[0], this.octave + OCTAVE_KEYS[event.code]));
      this.changed(this.state.levels());
      return;
    }
    const note = keyboardNote(event.code, this.octave);
    if (note === null || this.down.has(event.code)) return;
    event.preventDefault();
    this.down.set(event.code, note);
    this.state.press(note, KEYBOARD_VELOCITY);
    this.changed(this.state.levels());
  }

  // A key let go, or every key when the window loses the focus.
  #keyUp(event) {
    const codes = event.type === 'blur' ? [...this.down.keys()] : [event.code];
    let any = false;
    for (const code of codes) {
      if (!this.down.has(code)) continue;
      this.state.release(this.down.get(code));
      this.down.delete(code);
      any = true;
    }
    if (any) this.changed(this.state.levels());
  }

  // Asks for Web MIDI once; every input port plays, those plugged in later too.
  connect() {
    if (this.midi) return Promise.resolve();
    if (!navigator.requestMIDIAccess) {
      this.midiNote = 'this browser has no Web MIDI';
      return Promise.resolve();
    }
    this.connecting ??= navigator
      .requestMIDIAccess()
      .then((access) => {
        this.midi = access;
        access.onstatechange = () => this.#attach();
        this.#attach();
      })
      .catch((error) => {
        this.midiNote = error?.name === 'SecurityError' || error?.name === 'NotAllowedError' ? 'Web MIDI was refused' : `no Web MIDI (${error?.message || error})`;
      })
      .finally(() => {
        this.connecting = null;
        this.changed(this.state.levels());
      });
    return this.connecting;
  }

  #attach() {
    const names = [];
    for (const input of this.midi.inputs.values()) {
      input.onmidimessage = (message) => {
        if (this.state.midi(message.data)) this.changed(this.state.levels());
      };
      names.push(input.name || 'a MIDI keyboard');
    }
    this.midiNote = names.length ? `MIDI: ${names.join(', ')}` : 'no MIDI keyboard is connected';
    this.changed(this.state.levels());
  }

  // The keys' line beside the controls.
  describe() {
    const held = this.state.held.length > 0;
    const last = this.state.velocity > 0 ? `last note ${noteName(this.state.note)} (${this.state.note}), velocity ${this.state.velocity}${held ? ', held' : ''}` : 'no note yet';
    const from = noteName(KEYBOARD_FIRST_NOTE + 12 * this.octave);
    const midi = this.midiNote || (this.connecting ? 'connecting MIDI…' : 'MIDI not connected');
    return `${last} · ${midi} · computer keyboard: ${KEYBOARD_LETTERS} play from ${from} up, Z and X shift the octave`;
  }
}
