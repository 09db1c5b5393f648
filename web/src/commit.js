// When an edited text starts to play. The musician asks for it (Ctrl+Enter,
// or Cmd+Enter, in either editor, or the Play text button), or, with "live as
// I type" on, a pause in typing does; until then the worklet plays the texts
// it has, so a half-typed text never replaces a sounding one.
import { Prec } from '@codemirror/state';
import { keymap } from '@codemirror/view';

export const TYPING_PAUSE_MS = 600;

// The play key as the musician's keyboard names it.
export const PLAY_KEY = /Mac|iPhone|iPad/.test(globalThis.navigator?.platform ?? '') ? 'Cmd+Enter' : 'Ctrl+Enter';

// The editor keys that play the texts; ahead of the default keymap, whose
// Mod-Enter would insert a line.
export function playKeys(play) {
  return Prec.highest(
    keymap.of([
      {
        key: 'Mod-Enter',
        run: () => {
          play();
          return true;
        },
      },
    ]),
  );
}

// Runs `play` once typing has paused for TYPING_PAUSE_MS, while `live()`.
export class TypingPause {
  constructor(play, live) {
    this.play = play;
    this.live = live;
    this.timer = 0;
  }

  typed() {
    clearTimeout(this.timer);
    if (this.live()) this.timer = setTimeout(this.play, TYPING_PAUSE_MS);
  }

  cancel() {
    clearTimeout(this.timer);
  }
}
