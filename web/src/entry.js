// Numeric fields that take what is typed: nothing is rewritten or applied
// while the musician types; the value is checked when they commit it
// (Enter, or leaving the field). A number outside the range is brought to
// its nearest end; text that is no number is marked and left to be fixed.

// The number a field's text holds, or null: decimals with a point or a
// comma, an optional sign and exponent.
export function parseNumber(text) {
  const trimmed = String(text).trim().replace(',', '.');
  if (!/^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i.test(trimmed)) return null;
  const value = Number(trimmed);
  return Number.isFinite(value) ? value : null;
}

// The committed value: {value} within [low, high] (clamped: true when it
// was brought there), or {error} with a sentence.
export function commitNumber(text, [low, high]) {
  const value = parseNumber(text);
  if (value === null) return { error: `Type a number from ${low} to ${high}.` };
  if (value < low) return { value: low, clamped: true };
  if (value > high) return { value: high, clamped: true };
  return { value, clamped: false };
}

// Binds `input` (a text field) so that commit(value) runs with each valid
// committed value (the browser's change event: Enter, or leaving the field);
// Escape puts back the last committed text.
export function bindNumberField(input, range, commit) {
  let committed = input.value;
  const mark = (error) => {
    input.classList.toggle('invalid', Boolean(error));
    input.setAttribute('aria-invalid', error ? 'true' : 'false');
    input.title = error ?? '';
  };
  input.addEventListener('input', () => {
    input.dataset.typing = 'true';
    mark(parseNumber(input.value) === null && input.value.trim() !== '' ? 'Not a number yet' : null);
  });
  input.addEventListener('change', () => {
    const result = commitNumber(input.value, range);
    mark(result.error);
    if (result.error) return;
    delete input.dataset.typing;
    if (result.clamped) input.title = `Kept within ${range[0]} … ${range[1]}`;
    commit(result.value);
    committed = input.value;
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      delete input.dataset.typing;
      input.value = committed;
      mark(null);
    }
  });
}

// Shows `value` in a field bound by bindNumberField, unless the musician is
// typing there: what they typed and have not committed stays.
export function showNumber(input, value) {
  if (!input.dataset.typing) input.value = String(value);
}
