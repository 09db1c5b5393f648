// The health strip: what the worklet measured of the sound, live. The
// engine's share of the audio budget (time spent per render quantum against
// the quantum's length), per output the NaN or infinite samples and the
// samples beyond full scale since the last change, and whether the
// listening path's limiter turned the sound down.
import './health.css';

// Above this share of the budget the strip warns: the audio thread has
// little room left, and beyond 100 % the sound breaks up.
export const BUDGET_WARNING = 0.7;
// Statuses averaged for the share: at 0.1 s each, half a second.
const WINDOW = 5;

// The share of the budget spent over the last statuses:
// [{busyMs, frames, rate}] to a fraction (1 is all of it).
export function budgetShare(history) {
  let busy = 0;
  let seconds = 0;
  for (const { busyMs, frames, rate } of history) {
    busy += busyMs;
    seconds += frames / rate;
  }
  return seconds > 0 ? busy / (1000 * seconds) : 0;
}

const count = (n) => Math.round(n).toLocaleString('en');

// One output's line: null when it is clean.
export function outputTrouble(name, nonFinite, over) {
  const parts = [];
  if (nonFinite > 0) parts.push(`${count(nonFinite)} NaN or infinite`);
  if (over > 0) parts.push(`${count(over)} beyond full scale`);
  return parts.length > 0 ? `${name}: ${parts.join(', ')}` : null;
}

function span(className) {
  const element = document.createElement('span');
  element.className = className;
  return element;
}

export class HealthStrip {
  constructor(element, outputNames) {
    this.outputNames = outputNames;
    this.history = [];
    this.state = null;
    this.budget = span('budget');
    this.bar = document.createElement('meter');
    this.bar.min = 0;
    this.bar.max = 1;
    this.bar.low = BUDGET_WARNING;
    this.bar.high = BUDGET_WARNING;
    this.bar.optimum = 0;
    this.budgetText = span('budget-text');
    this.budget.append(this.bar, this.budgetText);
    this.outputs = span('outputs');
    this.limiter = span('limiter');
    element.replaceChildren(this.budget, this.outputs, this.limiter);
    this.element = element;
    this.stopped();
  }

  stopped() {
    this.history = [];
    this.bar.value = 0;
    this.budgetText.textContent = 'Engine: not running';
    this.element.classList.remove('warning');
  }

  // A status from the worklet; heard lists the outputs the speakers get.
  update({ health, frames, rate }, heard) {
    if (!health) return;
    this.history.push({ busyMs: health.busyMs, frames, rate });
    if (this.history.length > WINDOW) this.history.shift();
    const share = budgetShare(this.history);
    const warning = share > BUDGET_WARNING;
    this.bar.value = Math.min(1, share);
    const percent = `${Math.round(100 * share)} % of the audio budget`;
    this.budgetText.textContent = !warning
      ? `Engine: ${percent}`
      : share >= 1
        ? `Engine: ${percent}: too heavy for real time, the sound breaks up`
        : `Engine: ${percent}: close to breaking up`;
    this.element.classList.toggle('warning', warning);

    const troubles = this.outputNames.map((name, k) => outputTrouble(name, health.nonFinite[k], health.over[k])).filter(Boolean);
    this.outputs.textContent = troubles.length > 0 ? `Since the last change: ${troubles.join('; ')}` : 'Outputs: no NaN, nothing beyond full scale';
    this.outputs.classList.toggle('trouble', troubles.length > 0);

    const limited = heard.filter((k) => health.limited[k] > 0);
    this.limiter.textContent =
      limited.length > 0
        ? `Limiter acted on ${limited.map((k) => this.outputNames[k]).join(' and ')}: what you hear is kept within full scale, NaN silenced (renders are not)`
        : 'Limiter: idle';
    this.limiter.classList.toggle('acted', limited.length > 0);
    this.state = { share, warning, nonFinite: [...health.nonFinite], over: [...health.over], limited: limited.map((k) => this.outputNames[k]) };
  }
}
