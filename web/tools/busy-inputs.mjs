// Every input busy, each with another source, so texts that read them are
// measured and compared on signals rather than on zeros: the bit-for-bit
// test and the worklet's timing use the same six.
export const BUSY_INPUTS = [
  { kind: 'sine', level: 0.8, freq: 220 },
  { kind: 'saw', level: 0.6, freq: 55 },
  { kind: 'square', level: 0.5, freq: 3 },
  { kind: 'noise', level: 0.3, freq: 220 },
  { kind: 'gate', level: 0.5, freq: 2 },
  { kind: 'clock', level: 0.5, freq: 8 },
];
