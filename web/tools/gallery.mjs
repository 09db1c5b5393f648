// Writes the playground's gallery: every patch in examples/ (NAME.expr.txt,
// with NAME.init.txt when there is one) and every recipe of the language
// reference (docs/language.md, section "Recipes": one "###" heading per
// recipe, each ```quorvel box in it a text), with the input settings each
// entry needs to sound as meant (web/gallery-inputs.json: entry id to
// {pin: setting}; the page sets those inputs and leaves the others). Read at
// build time, so a new example or recipe appears without a second copy.
//
//   node web/tools/gallery.mjs EXAMPLES_DIR LANGUAGE_MD INPUTS_JSON OUT.json
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const ARROW = '\u2192';

// The leading comment's first line, up to its first ":" or ".", names the
// patch; the file name does where there is none.
export function titleOf(text, fallback) {
  const match = /^\s*<\s*([^\n>]*)/.exec(text);
  const line = match ? match[1].trim() : '';
  const title = line.split(/[:.]/)[0].trim();
  return title || fallback.replace(/_/g, ' ');
}

export function examplePatches(dir) {
  const names = fs
    .readdirSync(dir)
    .filter((file) => file.endsWith('.expr.txt'))
    .map((file) => file.slice(0, -'.expr.txt'.length))
    .sort();
  return names.map((name) => {
    const expr = fs.readFileSync(path.join(dir, `${name}.expr.txt`), 'utf8');
    const initPath = path.join(dir, `${name}.init.txt`);
    const init = fs.existsSync(initPath) ? fs.readFileSync(initPath, 'utf8') : '';
    return { id: `example:${name}`, group: 'examples', title: titleOf(expr, name), expr, init };
  });
}

// The section of a Markdown text under the "##" heading `title`, up to the next "##".
function section(markdown, title) {
  const lines = markdown.split('\n');
  const start = lines.findIndex((line) => new RegExp(`^##\\s+${title}\\s*$`, 'i').test(line));
  if (start < 0) return [];
  const end = lines.findIndex((line, i) => i > start && /^##\s/.test(line));
  return lines.slice(start + 1, end < 0 ? lines.length : end);
}

// A box's text as typed: a "→ value" a box may show after a statement is
// the reference's annotation, not part of the text.
function boxText(lines) {
  return lines.map((line) => (line.includes(ARROW) ? line.slice(0, line.indexOf(ARROW)).trimEnd() : line)).join('\n');
}

// The texts of the ```quorvel boxes among some lines.
function boxes(lines) {
  const found = [];
  for (let i = 0; i < lines.length; i++) {
    if (!/^```quorvel\s*$/.test(lines[i])) continue;
    const end = lines.findIndex((line, k) => k > i && /^```\s*$/.test(line));
    if (end < 0) break;
    found.push(`${boxText(lines.slice(i + 1, end))}\n`);
    i = end;
  }
  return found;
}

// One patch per box of each "###" recipe of the Recipes section: every box
// of the reference is a text of its own, run from a fresh start.
export function recipePatches(markdown) {
  const lines = section(markdown, 'Recipes');
  const patches = [];
  for (let i = 0; i < lines.length; i++) {
    const heading = /^###\s+(.*)$/.exec(lines[i]);
    if (!heading) continue;
    const end = lines.findIndex((line, k) => k > i && /^###\s/.test(line));
    const title = heading[1].replace(/[`*]/g, '').trim();
    const slug = title.toLowerCase().replace(/[^a-z0-9]+/g, '-').replace(/^-|-$/g, '');
    boxes(lines.slice(i + 1, end < 0 ? lines.length : end)).forEach((expr, n) => {
      const suffix = n === 0 ? '' : ` (${n + 1})`;
      patches.push({ id: `recipe:${slug}${n === 0 ? '' : `-${n + 1}`}`, group: 'recipes', title: title + suffix, expr, init: '' });
    });
  }
  return patches;
}

// The patches with their `needs` from the settings file; a setting for an
// entry that does not exist is a mistake in that file.
export function withNeeds(patches, needs) {
  const ids = new Set(patches.map((patch) => patch.id));
  const unknown = Object.keys(needs).filter((id) => !ids.has(id));
  if (unknown.length > 0) throw new Error(`input settings for entries that do not exist: ${unknown.join(', ')}`);
  return patches.map((patch) => (needs[patch.id] ? { ...patch, needs: needs[patch.id] } : patch));
}

export function gallery(examplesDir, languageMarkdown, inputsFile) {
  const patches = [...examplePatches(examplesDir), ...recipePatches(fs.readFileSync(languageMarkdown, 'utf8'))];
  return withNeeds(patches, JSON.parse(fs.readFileSync(inputsFile, 'utf8')));
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const [examplesDir, languageMarkdown, inputsFile, outFile] = process.argv.slice(2);
  const patches = gallery(examplesDir, languageMarkdown, inputsFile);
  fs.writeFileSync(outFile, `${JSON.stringify(patches, null, 1)}\n`);
  const recipes = patches.filter((patch) => patch.group === 'recipes').length;
  console.log(`  gallery: ${patches.length - recipes} examples, ${recipes} recipes`);
}
