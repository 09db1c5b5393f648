// The text editors: CodeMirror with the language's highlighting, the
// engine's report of a failed parse underlined at the culprit, and check's
// warnings underlined where they point.
// The names highlighted come from the engine's own tables at run time.
import { defaultKeymap, history, historyKeymap } from '@codemirror/commands';
import { HighlightStyle, StreamLanguage, syntaxHighlighting } from '@codemirror/language';
import { lintGutter, setDiagnostics } from '@codemirror/lint';
import { EditorState } from '@codemirror/state';
import {
  drawSelection,
  EditorView,
  highlightActiveLine,
  highlightSpecialChars,
  keymap,
  lineNumbers,
} from '@codemirror/view';
import { tags } from '@lezer/highlight';

// A token's class from a name: a call of a built-in, a call of anything
// else, a constant, a pin's variable or a variable of the text's own.
export function classifyName(name, calls, names) {
  if (calls) return names.functions.has(name) ? 'variableName.function.standard' : 'invalid';
  if (names.constants.has(name)) return 'atom';
  if (names.pins.has(name)) return 'variableName.special';
  return 'variableName';
}

// The tokenizer. Comments run from "<" to the ">" that closes it and
// nest, across lines; a stray ">" or a character outside the language is
// marked invalid, as the engine would refuse it.
export function quorvelLanguage(names) {
  return StreamLanguage.define({
    name: 'quorvel',
    startState: () => ({ depth: 0 }),
    copyState: (state) => ({ depth: state.depth }),
    token(stream, state) {
      if (state.depth > 0) {
        while (!stream.eol()) {
          const char = stream.next();
          if (char === '<') state.depth++;
          else if (char === '>' && --state.depth === 0) break;
        }
        return 'comment';
      }
      if (stream.eatSpace()) return null;
      if (stream.eat('<')) {
        state.depth = 1;
        return 'comment';
      }
      if (stream.match(/^(\d+\.?\d*|\.\d+)/)) return 'number';
      const name = stream.match(/^[A-Za-z_][A-Za-z0-9_]*/);
      if (name) return classifyName(name[0], stream.match(/^\s*\(/, false) !== null, names);
      const char = stream.next();
      if ('+-*/=&'.includes(char)) return 'operator';
      if ('(),;'.includes(char)) return 'punctuation';
      return 'invalid';
    },
  });
}

const style = HighlightStyle.define([
  { tag: tags.comment, color: '#6b7a8f', fontStyle: 'italic' },
  { tag: tags.number, color: '#b5651d' },
  { tag: tags.function(tags.standard(tags.variableName)), color: '#1f6feb', fontWeight: '600' },
  { tag: tags.atom, color: '#8250df' },
  { tag: tags.special(tags.variableName), color: '#0a7f4f', fontWeight: '600' },
  { tag: tags.variableName, color: '#24292f' },
  { tag: tags.operator, color: '#cf222e' },
  { tag: tags.punctuation, color: '#57606a' },
  { tag: tags.invalid, color: '#ffffff', backgroundColor: '#cf222e' },
]);

// An editor in `parent`. onChange(text) runs after every change of the text;
// extensions are the page's own additions.
export function createEditor({ parent, doc, names, label, onChange, extensions = [] }) {
  const view = new EditorView({
    parent,
    state: EditorState.create({
      doc,
      extensions: [
        lineNumbers(),
        history(),
        drawSelection(),
        highlightSpecialChars(),
        highlightActiveLine(),
        keymap.of([...defaultKeymap, ...historyKeymap]),
        quorvelLanguage(names),
        syntaxHighlighting(style),
        lintGutter(),
        EditorView.lineWrapping,
        EditorView.contentAttributes.of({ 'aria-label': label }),
        ...extensions,
        // An update may not dispatch another: the report follows at once after it.
        EditorView.updateListener.of((update) => {
          if (update.docChanged) queueMicrotask(() => onChange(view.state.doc.toString()));
        }),
      ],
    }),
  });
  return {
    view,
    text: () => view.state.doc.toString(),
    setText(text) {
      view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: text } });
    },
    // Puts the cursor at `pos` and scrolls its line near the top, with a
    // little of what comes before it in sight.
    showAt(pos) {
      view.dispatch({ selection: { anchor: pos }, effects: EditorView.scrollIntoView(pos, { y: 'start', yMargin: 30 }) });
    },
    // Marks the text: [{from, to, severity ('error' or 'warning'), message}].
    showDiagnostics(diagnostics) {
      view.dispatch(setDiagnostics(view.state, diagnostics.map((d) => ({ ...d, source: 'engine' }))));
    },
  };
}
