// What a text names, read the way the engine reads it: comments run from
// "<" to the ">" that closes it and nest; a name followed by "(" is a call.

// The text with its comments blanked out (same length, so places hold).
export function withoutComments(text) {
  let depth = 0;
  let out = '';
  for (const char of text) {
    if (char === '<') depth++;
    const blank = depth > 0;
    if (char === '>' && depth > 0) depth--;
    out += blank ? ' '.repeat(char.length) : char;
  }
  return out;
}

// The variable names a text reads or writes (not the functions it calls),
// each once, in the order they first appear.
export function namesIn(text) {
  const names = new Set();
  for (const match of withoutComments(text).matchAll(/[A-Za-z_][A-Za-z0-9_]*(?!\s*\()(?![A-Za-z0-9_])/g)) names.add(match[0]);
  return [...names];
}

// Where the code starts: the first character that is neither blank nor in
// a comment (the text's length when there is none).
export function codeStart(text) {
  const match = /\S/.exec(withoutComments(text));
  return match ? match.index : text.length;
}
