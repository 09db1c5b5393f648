// Marks in an editor for the lines that differ from the text that plays:
// a line added or changed gets a bar in the margin, a place where lines were
// removed a rule. The comparison is a longest common subsequence of lines
// between what the common start and end leave.
import { StateEffect, StateField } from '@codemirror/state';
import { Decoration, EditorView } from '@codemirror/view';

// Beyond this many lines on each side the middle is marked whole rather
// than compared line by line (the comparison costs their product).
const MAX_COMPARED_LINES = 500;

// The lines of `text` (1-based) that `playing` lacks, and the lines of
// `text` before which lines of `playing` were removed (text's line count
// + 1 for removals at the end).
export function differingLines(text, playing) {
  const a = text.split('\n');
  const b = playing.split('\n');
  let start = 0;
  while (start < a.length && start < b.length && a[start] === b[start]) start++;
  let endA = a.length;
  let endB = b.length;
  while (endA > start && endB > start && a[endA - 1] === b[endB - 1]) {
    endA--;
    endB--;
  }
  const changed = [];
  const removedBefore = [];
  const n = endA - start;
  const m = endB - start;
  if (n === 0 && m === 0) return { changed, removedBefore };
  if (n > MAX_COMPARED_LINES || m > MAX_COMPARED_LINES || n === 0 || m === 0) {
    for (let i = start; i < endA; i++) changed.push(i + 1);
    if (m > 0 && n === 0) removedBefore.push(start + 1);
    return { changed, removedBefore };
  }
  // lengths[i][j]: the longest common subsequence of a[start + i …) and b[start + j …).
  const lengths = Array.from({ length: n + 1 }, () => new Uint32Array(m + 1));
  for (let i = n - 1; i >= 0; i--)
    for (let j = m - 1; j >= 0; j--)
      lengths[i][j] = a[start + i] === b[start + j] ? lengths[i + 1][j + 1] + 1 : Math.max(lengths[i + 1][j], lengths[i][j + 1]);
  let i = 0;
  let j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && a[start + i] === b[start + j]) {
      i++;
      j++;
    } else if (j < m && (i === n || lengths[i][j + 1] >= lengths[i + 1][j])) {
      if (removedBefore.at(-1) !== start + i + 1) removedBefore.push(start + i + 1);
      j++;
    } else {
      changed.push(start + i + 1);
      i++;
    }
  }
  return { changed, removedBefore };
}

const setMarks = StateEffect.define();
const changedLine = Decoration.line({ class: 'cm-differs', attributes: { title: 'not playing yet' } });
const removedAbove = Decoration.line({ class: 'cm-removed-above' });
const removedBelow = Decoration.line({ class: 'cm-removed-below' });

const marksField = StateField.define({
  create: () => Decoration.none,
  update(marks, transaction) {
    let next = marks.map(transaction.changes);
    for (const effect of transaction.effects) if (effect.is(setMarks)) next = effect.value;
    return next;
  },
  provide: (field) => EditorView.decorations.from(field),
});

const theme = EditorView.baseTheme({
  '.cm-differs': { boxShadow: 'inset 3px 0 0 #bf8700', backgroundColor: '#fff8c533' },
  '.cm-removed-above': { boxShadow: 'inset 0 2px 0 #cf222e' },
  '.cm-removed-below': { boxShadow: 'inset 0 -2px 0 #cf222e' },
});

export const differenceMarks = [marksField, theme];

// Marks the lines of the view's text that differ from `playing`.
export function markDifferences(view, playing) {
  const doc = view.state.doc;
  const { changed, removedBefore } = differingLines(doc.toString(), playing);
  const ranges = [];
  const lines = new Map();
  for (const line of changed) lines.set(line, changedLine);
  for (const line of removedBefore)
    if (!lines.has(line)) lines.set(line <= doc.lines ? line : doc.lines, line <= doc.lines ? removedAbove : removedBelow);
  for (const [line, mark] of [...lines].sort((x, y) => x[0] - y[0])) ranges.push(mark.range(doc.line(line).from));
  view.dispatch({ effects: setMarks.of(Decoration.set(ranges, true)) });
  return changed.length + removedBefore.length;
}
