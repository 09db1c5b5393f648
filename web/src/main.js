// The playground page: two editors checked by the engine at every edit, the
// live worklet, the scope and spectrum, the inputs, the variables, the
// gallery, links and offline renders. Every sample and every verdict on a
// text comes from the module's engine in WebAssembly; this file only wires.
import './style.css';
import { PLAY_KEY, playKeys, TypingPause } from './commit.js';
import { createEditor } from './editor.js';
import { Engine, PinRole } from './engine.js';
import { HealthStrip } from './health.js';
import { Sources } from './media.js';
import { codeStart, namesIn } from './names.js';
import { differenceMarks, markDifferences } from './marks.js';
import { Recorder } from './recorder.js';
import { renderOffline } from './render.js';
import { COLORS, Scope, Spectrum } from './scope.js';
import { decodePatch, encodePatch } from './share.js';
import { bindNumberField, showNumber } from './entry.js';
import { defaultInput, FREQ_RANGE, KINDS, LEVEL_RANGE, normalizeInput, PERIODIC, readsRange, settingForKind } from './sources.js';
import { utf8Length } from './utf8.js';
import { watchRows } from './watch.js';
import { encodeWav } from './wav.js';

// Longest text the page hands the engine: longer ones would make every
// keystroke's parse, and the worklet's, too slow to stay live.
const MAX_TEXT_BYTES = 256 * 1024;
const WORKLET_URL = 'worklet.js';
const RENDER_RATE = 48000;
const RENDER_SECONDS = [0.1, 60];
const TIMEBASES_MS = [1, 2, 5, 10, 20, 50, 100, 200, 500];
const SCOPE_FFT = 32768;
const SPECTRUM_FFT = 8192;
const DEFAULT_PATCH = 'example:sine';

const $ = (id) => document.getElementById(id);

const page = {
  engine: null,
  parser: null, // a session of the page's own, which judges every edit
  wasm: null, // the .wasm bytes, handed to each worklet
  names: null,
  editors: {},
  // The texts the worklet plays: the last that parsed when the musician
  // asked to play them (commit.js). Until one has, the empty text plays,
  // silent as a text that fails.
  playing: { expr: '', init: '' },
  initPlays: false, // whether the Init that plays has statements to run
  initSent: 0, // Init texts sent to the worklet since it started
  pause: null, // plays the texts after a pause in typing, when live
  health: null,
  checked: { expr: null, init: null },
  reports: { expr: null, init: null },
  inputs: [],
  gallery: [],
  audio: null,
  status: null,
  scope: null,
  spectrum: null,
};

// ---- Messages ----------------------------------------------------------------

function showBanner(text) {
  const banner = $('banner');
  banner.textContent = text;
  banner.hidden = !text;
}

function setState(text) {
  $('state').textContent = text;
}

// ---- Checking texts ------------------------------------------------------------

// Texts longer than this get no hints or warnings: the diagnosis parses
// both texts again at every edit.
const MAX_ADVICE_BYTES = 64 * 1024;

// What the status line says of a failed parse: the engine's name and
// message for the code, and the statement.
function describeFailure(report) {
  const where = report.statement >= 0 ? ` (statement ${report.statement + 1})` : '';
  return `${report.name}${where}: ${report.message}.`;
}

// An Init of only blanks and comments is no mistake: the module then runs
// nothing at open, which is what an empty Init means.
function isEmptyInit(which, report) {
  return which === 'init' && report.name === 'EXPR_ERR_EMPTY';
}

function accepted(which, report) {
  return report.ok || isEmptyInit(which, report);
}

function tooLong(text, limit) {
  // Three bytes per UTF-16 unit at most: only a long text needs counting.
  return text.length * 3 > limit && utf8Length(text) > limit;
}

// The engine's verdict on a text, with the line the page shows for it.
function verdict(which, text) {
  if (tooLong(text, MAX_TEXT_BYTES)) {
    const kib = (utf8Length(text) / 1024).toFixed(0);
    return { ok: false, from: -1, line: `This text is ${kib} KiB; the playground takes texts of up to ${MAX_TEXT_BYTES / 1024} KiB.` };
  }
  const report = which === 'expr' ? page.parser.parseExpr(text) : page.parser.parseInit(text);
  report.line = report.ok ? '' : describeFailure(report);
  return report;
}

// Parses an edit and shows the verdict; a failure is underlined. The text
// plays only when playTexts hands it over.
function check(which, text) {
  if (page.checked[which] === text) return page.reports[which];
  judge(which, text);
  advise();
  markDifferences(page.editors[which].view, page.playing[which]);
  return page.reports[which];
}

function judge(which, text) {
  if (page.checked[which] === text) return page.reports[which];
  page.checked[which] = text;
  page.reports[which] = verdict(which, text);
  return page.reports[which];
}

// Hands the editors' texts that parse to the worklet: the musician asked to
// hear them. A text that fails leaves the one playing in place.
function playTexts() {
  page.pause.cancel();
  // Both verdicts first: the advice on either text reads both.
  for (const which of ['init', 'expr']) judge(which, page.editors[which].text());
  for (const which of ['init', 'expr']) {
    const text = page.checked[which];
    const report = page.reports[which];
    if (!accepted(which, report) || page.playing[which] === text) continue;
    page.playing[which] = text;
    if (which === 'init') {
      page.initPlays = report.ok;
      if (page.audio) page.initSent++;
    }
    post({ type: which, text });
  }
  for (const which of ['init', 'expr']) markDifferences(page.editors[which].view, page.playing[which]);
  advise();
  listVariables();
  showInitRun(page.status?.init);
}

// Hints and warnings from check's diagnosis, for both texts at once: what
// one text reads, the other may write.
function advise() {
  const { expr, init } = page.checked;
  if (expr === null || init === null) return;
  let advice = null;
  if (!tooLong(expr, MAX_ADVICE_BYTES) && !tooLong(init, MAX_ADVICE_BYTES)) {
    // An empty Init is given as one that does nothing, so the warnings speak
    // of both texts, as the page always has both.
    const emptyInit = isEmptyInit('init', page.reports.init);
    advice = page.engine.diagnose(expr, emptyInit ? '0;' : init);
    if (advice && emptyInit) advice.init = null;
  }
  show('expr', advice?.expr);
  show('init', advice?.init);
}

function statusOf(which, report) {
  if (!accepted(which, report)) {
    const playing = page.playing[which] || which === 'init' ? 'The text played last plays on.' : 'Silent until a text parses and is played.';
    return { text: `${report.line} ${playing}`, className: 'status error' };
  }
  const waiting = page.checked[which] !== page.playing[which];
  const when = $('live').checked ? `it plays after a pause in typing, or at once with ${PLAY_KEY}` : `${PLAY_KEY} or Play text plays it`;
  if (!report.ok) return { text: waiting ? `No Init, not played yet: ${when}.` : 'No Init: nothing runs at a start or a restart.', className: 'status' };
  if (waiting) return { text: `Parses, not playing yet: ${when}. The marked lines differ from what plays.`, className: 'status waiting' };
  const text = which === 'init' ? 'Parses: this Init plays. It runs at the first sample after a start or a restart.' : 'Parses: playing this text.';
  return { text, className: 'status ok' };
}

// The editor's marks and status line for its text's verdict and advice.
function show(which, advice) {
  const report = page.reports[which];
  const hints = [...(report.note ? [{ text: report.note, from: -1 }] : []), ...(accepted(which, report) ? [] : (advice?.hints ?? []))];
  const warnings = accepted(which, report) ? (advice?.warnings ?? []) : [];
  const notes = accepted(which, report) ? (advice?.notes ?? []) : [];
  const diagnostics = [];
  if (!accepted(which, report) && report.from >= 0)
    diagnostics.push({ from: report.from, to: report.to, severity: 'error', message: [report.line, ...hints.map((h) => `Hint: ${h.text}.`)].join(' ') });
  // A hint or note with a place of its own is marked there too.
  for (const [remarks, severity, prefix] of [[hints, 'info', 'Hint: '], [warnings, 'warning', ''], [notes, 'info', 'Note: ']])
    for (const remark of remarks)
      if (remark.from >= 0) diagnostics.push({ from: remark.from, to: remark.to, severity, message: prefix + remark.text });
  page.editors[which].showDiagnostics(diagnostics);
  const status = statusOf(which, report);
  const line = $(`${which}-status`);
  line.textContent = status.text;
  line.className = status.className;
  const items = [
    ...hints.map((h) => ['hint', `Hint: ${h.text}`]),
    ...warnings.map((w) => ['warning', `Warning: ${w.text}`]),
    ...notes.map((n) => ['note', `Note: ${n.text}`]),
  ];
  $(`${which}-notes`).replaceChildren(
    ...items.map(([kind, text]) => {
      const item = document.createElement('li');
      item.className = kind;
      item.textContent = text;
      return item;
    }),
  );
}

// ---- The worklet ----------------------------------------------------------------

function post(message) {
  page.audio?.node.port.postMessage(message);
}

function workletOptions() {
  return {
    ...page.sources.nodeOptions(), // the capture devices, one channel per input
    numberOfOutputs: 2, // the outputs as they are, and limited for listening
    outputChannelCount: [page.engine.outputs.length, page.engine.outputs.length],
    processorOptions: { wasm: page.wasm, expr: page.playing.expr, init: page.playing.init, inputs: page.inputs, keys: page.sources.keyLevels() },
  };
}

async function startAudio() {
  const context = new AudioContext({ latencyHint: 'interactive' });
  await context.audioWorklet.addModule(WORKLET_URL);
  const node = new AudioWorkletNode(context, 'quorvel', workletOptions());
  page.initSent = 0;
  node.port.onmessage = (event) => receive(event.data);
  node.onprocessorerror = () => showBanner('The engine stopped with an error. Reload the page.');
  page.sources.connect(context, node);
  const outputs = page.engine.outputs.length;
  const taps = context.createChannelSplitter(outputs);
  const ears = context.createChannelSplitter(outputs);
  const merger = context.createChannelMerger(2);
  const gain = context.createGain();
  const analysers = page.engine.outputs.map(() => {
    const analyser = context.createAnalyser();
    analyser.fftSize = SCOPE_FFT;
    return analyser;
  });
  const spectrum = context.createAnalyser();
  spectrum.fftSize = SPECTRUM_FFT;
  spectrum.smoothingTimeConstant = 0.6;
  node.connect(taps);
  node.connect(ears, 1);
  merger.connect(gain).connect(context.destination);
  page.audio = {
    context,
    node,
    taps,
    ears,
    merger,
    gain,
    analysers,
    spectrum,
    signals: analysers.map(() => new Float32Array(SCOPE_FFT)),
    decibels: new Float32Array(SPECTRUM_FFT / 2),
  };
  route();
  applyLevel();
}

// Which outputs the speakers get (one on both sides, or two side by side)
// and the analysers: one per output for the scope, the chosen one for the
// spectrum.
function route() {
  const audio = page.audio;
  if (!audio) return;
  audio.ears.disconnect();
  const choice = $('listen').value.split(',').map(Number);
  const [left, right] = choice.length === 2 ? choice : [choice[0], choice[0]];
  audio.ears.connect(audio.merger, left, 0);
  audio.ears.connect(audio.merger, right, 1);
  audio.taps.disconnect();
  audio.analysers.forEach((analyser, k) => audio.taps.connect(analyser, k));
  audio.taps.connect(audio.spectrum, Number($('spectrum-output').value));
}

function applyLevel() {
  if (page.audio) page.audio.gain.gain.value = Number($('level').value);
}

async function togglePlay() {
  const button = $('play');
  button.disabled = true;
  try {
    if (!page.audio) await startAudio();
    else if (page.audio.context.state === 'running') await page.audio.context.suspend();
    else {
      // A start opens the module again, as a host does: Init runs again.
      post({ type: 'open' });
      await page.audio.context.resume();
    }
    const running = page.audio.context.state === 'running';
    button.textContent = running ? 'Stop' : 'Start';
    setState(running ? `playing at ${page.audio.context.sampleRate} Hz` : 'stopped');
    if (!running) page.health.stopped();
  } catch (error) {
    showBanner(`Sound could not start: ${error.message}`);
  } finally {
    button.disabled = false;
  }
}

// A fresh module with the texts that play: variables at 0, time and sample
// from 0, Init at the first sample.
function restart() {
  post({ type: 'restart', expr: page.playing.expr, init: page.playing.init });
}

// ---- What the worklet reports ----------------------------------------------------

function receive(message) {
  if (message?.type === 'status') {
    page.status = message;
    showRun(message);
    showWatch(message);
    showInitRun(message.init);
    page.health.update(message, heard());
  } else if (message?.type === 'recorded') {
    page.recorder.receive(message);
  } else if (message?.type === 'error') {
    showBanner(`The engine reported: ${message.message}`);
  }
}

function showRun({ frames, silenced, code }) {
  const line = $('run-status');
  if (silenced === 0) {
    line.textContent = 'Expr runs at every sample.';
    line.className = 'status run ok';
    return;
  }
  const share = Math.round((100 * silenced) / frames);
  const name = page.engine.codeName(code);
  const what = name === 'EXPR_ERR_ABORTED' ? 'Expr exceeded its evaluation budget and was stopped' : `Expr failed (${name})`;
  line.textContent = `${what}: ${page.engine.codeMessage(code)}. ${share} % of the samples are silent.`;
  line.className = 'status run error';
}

// What the last start or restart made of the Init that plays.
function showInitRun(init) {
  const line = $('init-run');
  let text = '';
  let className = 'status run';
  if (!page.initPlays || !init) {
    // Nothing to say: no Init plays, or no sound has started yet.
  } else if (init.pending || init.runs === 0 || init.texts < page.initSent) text = 'Init runs at the first sample after the next start or restart.';
  else if (init.code === 0) {
    text = 'Init ran at the last start or restart.';
    className += ' ok';
  } else {
    const name = page.engine.codeName(init.code);
    text =
      name === 'EXPR_ERR_ABORTED'
        ? 'Init exceeded its evaluation budget at the last start or restart and was stopped: the statements after that point did not run.'
        : `Init failed at the last start or restart (${name}): ${page.engine.codeMessage(init.code)}.`;
    className += ' error';
  }
  line.textContent = text;
  line.className = className;
}

// The outputs the speakers get.
function heard() {
  return [...new Set($('listen').value.split(',').map(Number))];
}

function formatValue(value) {
  if (Number.isNaN(value)) return 'NaN';
  if (!Number.isFinite(value)) return value > 0 ? 'inf' : '-inf';
  if (value !== 0 && (Math.abs(value) >= 1e7 || Math.abs(value) < 1e-4)) return value.toExponential(6);
  return String(Number(value.toPrecision(9)));
}

// The watch shows this many variables; a text can make thousands.
const WATCH_ROWS = 400;

function showWatch({ names, values }) {
  if (names) {
    page.watchNames = names;
    listVariables();
  }
  const rows = $('watch').rows;
  const order = page.watchOrder ?? [];
  for (let i = 0; i < rows.length && i < order.length; i++) rows[i].cells[1].textContent = formatValue(values[order[i].index]);
}

// The variables list's rows, in watchRows' order: built when the names or
// the playing texts change.
function listVariables() {
  if (!page.watchNames) return;
  const pins = page.engine.pins.filter((pin) => pin.role === PinRole.Input || pin.role === PinRole.Output).map((pin) => pin.name);
  const playing = [...namesIn(page.playing.expr), ...namesIn(page.playing.init)];
  const order = watchRows(page.watchNames, pins, playing).slice(0, WATCH_ROWS);
  page.watchOrder = order;
  const rows = order.map(({ name, group }, i) => {
    const row = document.createElement('tr');
    row.className = group + (group === 'earlier' && order[i - 1]?.group !== 'earlier' ? ' first' : '');
    row.innerHTML = '<th></th><td></td>';
    row.firstChild.textContent = name;
    if (group === 'earlier') row.title = 'named only by an earlier text: kept until a restart';
    return row;
  });
  const more = document.createElement('caption');
  const count = page.watchNames.length;
  const earlier = order.some((row) => row.group === 'earlier') ? 'Greyed: named only by earlier texts, kept until a restart. ' : '';
  more.textContent = earlier + (count > WATCH_ROWS ? `The first ${WATCH_ROWS} of ${count} variables.` : '');
  $('watch').replaceChildren(more, ...rows);
}

// ---- Scope and spectrum ------------------------------------------------------------

function drawViews() {
  const audio = page.audio;
  if (audio && audio.context.state === 'running') {
    audio.analysers.forEach((analyser, k) => analyser.getFloatTimeDomainData(audio.signals[k]));
    const triggered = page.scope.draw(audio.signals, audio.context.sampleRate, {
      windowMs: Number($('timebase').value),
      trigger: Number($('trigger').value),
      level: Number($('trigger-level').value) || 0,
    });
    $('trigger-state').textContent = triggered ? 'triggered' : 'free running';
    audio.spectrum.getFloatFrequencyData(audio.decibels);
    page.spectrum.draw(audio.decibels, audio.context.sampleRate, SPECTRUM_FFT);
  }
  requestAnimationFrame(drawViews);
}

// ---- Inputs ---------------------------------------------------------------------

function inputRow(pin, k) {
  const row = document.createElement('tr');
  row.dataset.input = pin.name;
  row.innerHTML = `<th>${pin.name}</th>
    <td><select class="kind" aria-label="${pin.name} source">${KINDS.map((kind) => `<option>${kind}</option>`).join('')}</select></td>
    <td class="level-cell"><input class="level" type="range" min="${LEVEL_RANGE[0]}" max="${LEVEL_RANGE[1]}" step="0.01" aria-label="${pin.name} level"><input class="level-value" type="text" inputmode="decimal" aria-label="${pin.name} level value"></td>
    <td class="reads-cell"><span class="reads"></span></td>
    <td class="freq-cell"><label class="freq-label"><span class="freq-name"></span><input class="freq" type="text" inputmode="decimal" aria-label="${pin.name} frequency"> Hz</label></td>`;
  const current = () => page.inputs[k];
  row.querySelector('.kind').addEventListener('change', (event) => changeInput(k, settingForKind(current(), event.target.value)));
  row.querySelector('.level').addEventListener('input', (event) => changeInput(k, { ...current(), level: Number(event.target.value) }));
  bindNumberField(row.querySelector('.level-value'), LEVEL_RANGE, (level) => changeInput(k, { ...current(), level }));
  bindNumberField(row.querySelector('.freq'), FREQ_RANGE, (freq) => changeInput(k, { ...current(), freq }));
  page.sources.decorate(row, k);
  return row;
}

function showInput(row, setting, name) {
  row.querySelector('.kind').value = setting.kind;
  row.querySelector('.level').value = String(setting.level);
  showNumber(row.querySelector('.level-value'), setting.level);
  showNumber(row.querySelector('.freq'), setting.freq);
  const [low, high] = readsRange(setting).map(formatValue);
  const reads = setting.kind === 'constant' ? `${name} reads ${low}` : low === `-${high}` ? `${name} reads ±${high}` : `${name} reads ${low} to ${high}`;
  row.querySelector('.reads').textContent = reads;
  const periodic = PERIODIC.includes(setting.kind);
  // Without a frequency, what the input reads (and a source's controls
  // under it) takes the frequency's column too.
  row.querySelector('.freq-cell').hidden = !periodic;
  row.querySelector('.reads-cell').colSpan = periodic ? 1 : 2;
  row.querySelector('.freq-name').textContent = setting.kind === 'gate' || setting.kind === 'clock' ? 'rate ' : '';
  page.sources.show(row, setting);
}

// A setting the row's controls made; the source adds what its kind keeps
// (a file's name and channel) and asks for a device or the keys when chosen.
function changeInput(k, setting) {
  const safe = normalizeInput(setting) ?? defaultInput();
  page.inputs[k] = page.sources.changed(k, safe, page.inputs[k]);
  showInput($('inputs').rows[k], page.inputs[k], page.engine.inputs[k].name);
  post({ type: 'inputs', inputs: page.inputs });
}

function showInputs() {
  const rows = $('inputs').rows;
  page.inputs.forEach((setting, k) => showInput(rows[k], setting, page.engine.inputs[k].name));
  post({ type: 'inputs', inputs: page.inputs });
}

// ---- Patches: gallery and links --------------------------------------------------

// Puts a patch into the editors, each at its code rather than its leading
// comment, sets the inputs it carries or needs, and starts a fresh module
// with it.
function loadPatch({ expr, init, inputs, needs }) {
  page.editors.expr.setText(expr);
  page.editors.init.setText(init);
  page.editors.expr.showAt(codeStart(expr));
  page.editors.init.showAt(codeStart(init));
  // The inputs first: the new texts never run, not even for a block, on
  // the inputs of the patch before.
  if (inputs) page.inputs = inputs.map((setting) => ({ ...setting }));
  if (needs) setNeeded(needs);
  if (inputs || needs) showInputs();
  playTexts();
  restart();
}

// The inputs a gallery entry needs ({pin name: setting}); the others stay.
function setNeeded(needs) {
  page.engine.inputs.forEach((pin, k) => {
    if (needs[pin.name]) page.inputs[k] = normalizeInput(needs[pin.name]) ?? defaultInput();
  });
}

function buildGallery() {
  const box = $('gallery');
  for (const group of ['examples', 'recipes']) {
    const patches = page.gallery.filter((patch) => patch.group === group);
    if (patches.length === 0) continue;
    const heading = document.createElement('h3');
    heading.textContent = group === 'examples' ? 'Examples' : 'Recipes from the language reference';
    const list = document.createElement('div');
    list.className = 'entries';
    for (const patch of patches) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = patch.title;
      button.dataset.patch = patch.id;
      button.addEventListener('click', () => loadPatch(patch));
      list.append(button);
    }
    box.append(heading, list);
  }
}

function currentPatch() {
  return { expr: page.editors.expr.text(), init: page.editors.init.text(), inputs: page.inputs };
}

function makeLink() {
  const hash = encodePatch(currentPatch());
  history.replaceState(null, '', hash);
  $('link').value = location.href;
  $('link').select();
  navigator.clipboard?.writeText(location.href).catch(() => {});
}

// The patch a link carries, or null; what went wrong shows in the banner.
function patchFromLink() {
  const { patch, error, warning, note } = decodePatch(location.hash, page.engine.inputs.length, page.engine.inputs.map((pin) => pin.name));
  showBanner(error ?? [warning, note].filter(Boolean).join(' '));
  return patch ?? null;
}

// ---- Offline render ------------------------------------------------------------

async function render(seconds, patch = { ...page.playing, inputs: page.inputs }) {
  const frames = Math.round(Math.min(RENDER_SECONDS[1], Math.max(RENDER_SECONDS[0], seconds)) * RENDER_RATE);
  return renderOffline({
    wasm: page.wasm,
    workletUrl: WORKLET_URL,
    outputCount: page.engine.outputs.length,
    media: await page.sources.mediaAt(RENDER_RATE),
    keys: page.sources.keyLevels(),
    ...patch,
    rate: RENDER_RATE,
    frames,
  });
}

async function renderToFile() {
  const button = $('render');
  const status = $('render-status');
  button.disabled = true;
  status.textContent = 'rendering…';
  try {
    const seconds = Number($('seconds').value) || 2;
    const { outputs } = await render(seconds);
    const link = $('download');
    URL.revokeObjectURL(link.href);
    link.href = URL.createObjectURL(new Blob([encodeWav(outputs, RENDER_RATE)], { type: 'audio/wav' }));
    link.download = 'quorvel.wav';
    link.textContent = `Download quorvel.wav (${(outputs[0].length / RENDER_RATE).toFixed(2)} s, ${outputs.length} channels)`;
    link.hidden = false;
    status.textContent = '';
    link.click();
  } catch (error) {
    status.textContent = `The render failed: ${error.message}`;
  } finally {
    button.disabled = false;
  }
}

// ---- Setting up --------------------------------------------------------------------

function fillSelect(select, options) {
  select.replaceChildren(
    ...options.map(([value, label]) => {
      const option = document.createElement('option');
      option.value = value;
      option.textContent = label;
      return option;
    }),
  );
}

function buildControls() {
  const outputs = page.engine.outputs.map((pin, k) => [String(k), pin.name]);
  fillSelect($('listen'), [...outputs, ['0,1', `${outputs[0][1]} left, ${outputs[1][1]} right`]]);
  fillSelect($('trigger'), outputs);
  fillSelect($('spectrum-output'), outputs);
  fillSelect($('timebase'), TIMEBASES_MS.map((ms) => [String(ms), `${ms} ms`]));
  $('timebase').value = '10';
  page.sources = new Sources({ names: page.engine.inputs.map((pin) => pin.name), inputs: () => page.inputs, shown: showInputs });
  page.recorder = new Recorder($('recorder'), {
    audio: () => page.audio,
    listened: heard,
    outputCount: page.engine.outputs.length,
  });
  $('inputs').replaceChildren(...page.engine.inputs.map(inputRow));
  $('play').addEventListener('click', togglePlay);
  $('level').addEventListener('input', applyLevel);
  $('listen').addEventListener('change', route);
  $('spectrum-output').addEventListener('change', route);
  $('restart').addEventListener('click', restart);
  $('play-text').addEventListener('click', playTexts);
  $('play-key').textContent = PLAY_KEY;
  $('live').addEventListener('change', () => {
    if ($('live').checked) page.pause.typed();
    else page.pause.cancel();
    advise();
  });
  $('share').addEventListener('click', makeLink);
  $('render').addEventListener('click', renderToFile);
  window.addEventListener('hashchange', () => {
    const patch = patchFromLink();
    if (patch) loadPatch(patch);
  });
}

function buildEditors(expr, init) {
  const names = {
    functions: new Set(page.names.functions),
    constants: new Set(page.names.constants),
    pins: new Set(page.engine.pins.map((pin) => pin.name)),
  };
  for (const [which, doc] of [['expr', expr], ['init', init]])
    page.editors[which] = createEditor({
      parent: $(which),
      doc,
      names,
      label: `${which === 'expr' ? 'Expr' : 'Init'} text`,
      onChange: (text) => {
        check(which, text);
        page.pause.typed();
      },
      extensions: [playKeys(playTexts), differenceMarks],
    });
}

async function fetchBytes(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
  return response.arrayBuffer();
}

async function start() {
  const [wasm, gallery] = await Promise.all([fetchBytes('quorvel.wasm'), fetch('gallery.json').then((r) => r.json())]);
  page.wasm = wasm;
  page.engine = await Engine.load(wasm);
  page.parser = page.engine.newSession();
  page.names = page.engine.names(page.parser);
  page.gallery = gallery;
  page.inputs = page.engine.inputs.map(() => defaultInput());
  page.inputs[0] = { kind: 'saw', level: 0.5, freq: 110 };
  buildControls();
  const first = patchFromLink() ?? gallery.find((patch) => patch.id === DEFAULT_PATCH) ?? gallery[0] ?? { expr: '', init: '' };
  if (first.inputs) page.inputs = first.inputs;
  if (first.needs) setNeeded(first.needs);
  page.pause = new TypingPause(playTexts, () => $('live').checked);
  buildEditors(first.expr, first.init);
  page.editors.expr.showAt(codeStart(first.expr));
  page.editors.init.showAt(codeStart(first.init));
  playTexts();
  showInputs();
  buildGallery();
  page.scope = new Scope($('scope'), page.engine.outputs.map((pin) => pin.name));
  page.spectrum = new Spectrum($('spectrum'));
  page.health = new HealthStrip($('health'), page.engine.outputs.map((pin) => pin.name));
  $('play').disabled = false;
  $('render').disabled = false;
  setState('stopped');
  requestAnimationFrame(drawViews);
}

// A file's bytes as base64, for handing renders to the tests.
function base64Of(buffer) {
  return new Promise((resolve, reject) => {
    const reader = new FileReader();
    reader.onload = () => resolve(String(reader.result).slice(String(reader.result).indexOf(',') + 1));
    reader.onerror = () => reject(reader.error);
    reader.readAsDataURL(new Blob([buffer]));
  });
}

// An offline render as two WAV files in base64: what the engine played,
// and the inputs the worklet fed it.
async function renderFiles(seconds, patch) {
  const { outputs, inputs } = await render(seconds, patch);
  return { outputs: await base64Of(encodeWav(outputs, RENDER_RATE)), inputs: await base64Of(encodeWav(inputs, RENDER_RATE)) };
}

// Hooks for the tests in web/tests, which drive the page as a person would
// and read back what it drew and played.
window.quorvel = {
  ready: start().then(
    () => true,
    (error) => {
      setState('failed');
      showBanner(`The playground could not start: ${error.message}`);
      return false;
    },
  ),
  page,
  render,
  renderFiles,
  scopeFrame: () => page.scope?.frame ?? null,
  spectrumFrame: () => page.spectrum?.frame ?? null,
  runStatus: () => page.status,
  health: () => page.health?.state ?? null,
  colors: COLORS,
  encodeWav,
};
