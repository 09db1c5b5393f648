// Keys as a modular voice hears them: the last note played as a pitch
// level, a gate while a key is held, and the note's velocity, in pin units
// (a sample value; the text reads it times 10). One place for the mapping;
// the worklet, the page, the reference's recipe and the tests follow it.
//
// Pitch: one octave per unit of what the text reads, 0 at A4 (MIDI note 69,
// 440 Hz), so `440 * pow(2, u)` is the note's frequency: the text reads
// (note - 69) / 12, from -5.75 (note 0) to about 4.83 (note 127).
// Gate: the text reads 5 while any key is held, 0 once all are released.
// Velocity: the text reads 10 * velocity / 127 (0 … 10), of the last note.
// A key pressed while another is held changes pitch and velocity and keeps
// the gate high (legato); releasing it goes back to the key still held.

export const KEY_PITCH = 'key pitch';
export const KEY_GATE = 'key gate';
export const KEY_VELOCITY = 'key velocity';
export const KEY_KINDS = Object.freeze([KEY_PITCH, KEY_GATE, KEY_VELOCITY]);

export const ZERO_NOTE = 69;
const GATE_LEVEL = 0.5;
// What the computer keyboard plays at: a strong mezzo-forte.
export const KEYBOARD_VELOCITY = 100;

// The pin's sample for a note: what the text reads is ten times it.
export function pitchLevel(note) {
  return (note - ZERO_NOTE) / 120;
}

export function velocityLevel(velocity) {
  return velocity / 127;
}

// Which notes are held, in the order they were pressed; the levels follow
// the last one.
export class KeyState {
  constructor() {
    this.held = [];
    this.note = ZERO_NOTE;
    this.velocity = 0;
  }

  press(note, velocity) {
    this.release(note);
    this.held.push({ note, velocity });
    this.note = note;
    this.velocity = velocity;
  }

  release(note) {
    const at = this.held.findIndex((key) => key.note === note);
    if (at < 0) return;
    this.held.splice(at, 1);
    const last = this.held.at(-1);
    if (at === this.held.length && last) {
      this.note = last.note;
      this.velocity = last.velocity;
    }
  }

  releaseAll() {
    this.held = [];
  }

  // {kind: sample} for the three key kinds. The pitch and velocity hold
  // after the last release, as a voice's do while its envelope falls.
  levels() {
    return {
      [KEY_PITCH]: pitchLevel(this.note),
      [KEY_GATE]: this.held.length > 0 ? GATE_LEVEL : 0,
      [KEY_VELOCITY]: velocityLevel(this.velocity),
    };
  }

  // A MIDI message, any channel: note on, note off (or note on at velocity
  // 0), and all notes off. True when the state changed.
  midi(data) {
    const [status, note, velocity] = data;
    const type = status & 0xf0;
    if (type === 0x90 && velocity > 0) this.press(note, velocity);
    else if (type === 0x80 || type === 0x90) this.release(note);
    else if (type === 0xb0 && (note === 123 || note === 120)) this.releaseAll();
    else return false;
    return true;
  }
}

// The computer keyboard as a piano: the home row the white keys from C,
// the row above it the black ones; by physical key, whatever the layout.
// Z and X move the octave down and up.
const KEYBOARD = ['KeyA', 'KeyW', 'KeyS', 'KeyE', 'KeyD', 'KeyF', 'KeyT', 'KeyG', 'KeyY', 'KeyH', 'KeyU', 'KeyJ', 'KeyK', 'KeyO', 'KeyL', 'KeyP', 'Semicolon'];
export const KEYBOARD_LETTERS = 'A W S E D F T G Y H U J K O L P ;';
// C4, middle C: the A key.
export const KEYBOARD_FIRST_NOTE = 60;

// The note a key plays at an octave shift, or null for another key.
export function keyboardNote(code, octave) {
  const at = KEYBOARD.indexOf(code);
  if (at < 0) return null;
  const note = KEYBOARD_FIRST_NOTE + 12 * octave + at;
  return note >= 0 && note <= 127 ? note : null;
}

export const OCTAVE_KEYS = Object.freeze({ KeyZ: -1, KeyX: 1 });
export const OCTAVE_RANGE = Object.freeze([-4, 4]);
