// The scope of out1 … out3 and the spectrum of one output, drawn with
// uPlot from AnalyserNodes that tap the worklet's output. Values are the
// outputs' samples (the text's value times 0.1).
import uPlot from 'uplot';
import 'uplot/dist/uPlot.min.css';
import { axisLabel, axisSize } from './axis.js';

export const COLORS = Object.freeze(['#1f6feb', '#d1242f', '#1a7f37']);
// Most points one series draws; longer windows keep each bucket's extremes.
const MAX_POINTS = 2048;
// The spectrum's range in dB; quieter bins are drawn at its floor.
const DB_RANGE = [-120, 0];

// The start of the window to show: the latest rising crossing of `level`
// on `signal` that leaves room for `length` samples after `pre` before it,
// or the newest window when there is none (free running).
export function triggerStart(signal, length, pre, level) {
  const last = signal.length - length + pre;
  for (let i = last; i > pre && i > 0; i--)
    if (signal[i - 1] < level && signal[i] >= level) return { start: i - pre, triggered: true };
  return { start: Math.max(0, signal.length - length), triggered: false };
}

// signal[start … start + length) as at most MAX_POINTS points: every sample,
// or each bucket's minimum and maximum in the order they occur.
export function decimate(signal, start, length) {
  if (length <= MAX_POINTS) return { index: Array.from({ length }, (_, i) => i), values: signal.slice(start, start + length) };
  const buckets = MAX_POINTS / 2;
  const index = [];
  const values = [];
  for (let b = 0; b < buckets; b++) {
    const from = Math.floor((b * length) / buckets);
    const to = Math.floor(((b + 1) * length) / buckets);
    let low = from;
    let high = from;
    for (let i = from; i < to; i++) {
      if (signal[start + i] < signal[start + low]) low = i;
      if (signal[start + i] > signal[start + high]) high = i;
    }
    for (const i of low <= high ? [low, high] : [high, low]) {
      index.push(i);
      values.push(signal[start + i]);
    }
  }
  return { index, values };
}

const valueAxis = (label, extra = {}) => ({ label, values: (_plot, splits) => splits.map(axisLabel), size: axisSize, ...extra });

// A finite value for the plot; NaN and the infinities show as gaps.
const plotted = (value) => (Number.isFinite(value) ? value : null);

function sizeOf(parent, height) {
  return { width: Math.max(200, parent.clientWidth), height };
}

// The plot keeps its height and takes its parent's width.
function follow(parent, plot, height) {
  new ResizeObserver(() => plot.setSize(sizeOf(parent, height))).observe(parent);
}

export class Scope {
  constructor(parent, outputNames, height = 220) {
    this.frame = null;
    this.plot = new uPlot(
      {
        ...sizeOf(parent, height),
        legend: { show: true, live: false },
        cursor: { show: false },
        scales: {
          x: { time: false },
          y: { range: (_u, min, max) => [Math.min(-1, min ?? -1), Math.max(1, max ?? 1)] },
        },
        axes: [{ label: 'ms' }, valueAxis('output sample')],
        series: [{ label: 'ms' }, ...outputNames.map((name, k) => ({ label: name, stroke: COLORS[k], width: 1.5 }))],
      },
      [[], ...outputNames.map(() => [])],
      parent,
    );
    follow(parent, this.plot, height);
  }

  // Draws `windowMs` of every channel, triggered on channel `trigger` at `level`.
  draw(signals, rate, { windowMs, trigger, level }) {
    const length = Math.min(signals[0].length, Math.max(2, Math.round((windowMs * rate) / 1000)));
    const pre = Math.floor(length / 10);
    const { start, triggered } = triggerStart(signals[trigger], length, pre, level);
    const series = signals.map((signal) => decimate(signal, start, length));
    const x = series[0].index.map((i) => ((i - pre) * 1000) / rate);
    this.plot.setData([x, ...series.map((s) => Array.from(s.values, plotted))]);
    this.frame = { triggered, start, length, values: series.map((s) => Float32Array.from(s.values)) };
    return triggered;
  }
}

// The spectrum's level lines, in dB.
const DB_LINES = Array.from({ length: (DB_RANGE[1] - DB_RANGE[0]) / 20 + 1 }, (_, k) => DB_RANGE[0] + 20 * k);

export class Spectrum {
  constructor(parent, height = 230) {
    this.frame = null;
    this.nyquist = 24000;
    this.plot = new uPlot(
      {
        ...sizeOf(parent, height),
        legend: { show: false },
        cursor: { show: false },
        scales: {
          x: { time: false, distr: 3, log: 10, range: () => [10, this.nyquist] },
          y: { range: DB_RANGE },
        },
        axes: [{ label: 'Hz' }, valueAxis('dB', { splits: () => DB_LINES })],
        series: [{}, { stroke: '#57606a', width: 1 }],
      },
      [[], []],
      parent,
    );
    follow(parent, this.plot, height);
  }

  // Draws the analyser's magnitudes from its first bin above 0 Hz.
  draw(decibels, rate, fftSize) {
    this.nyquist = rate / 2;
    const x = [];
    const y = [];
    for (let bin = 1; bin < decibels.length; bin++) {
      x.push((bin * rate) / fftSize);
      y.push(Math.max(DB_RANGE[0], Number.isFinite(decibels[bin]) ? decibels[bin] : DB_RANGE[0]));
    }
    this.plot.setData([x, y]);
    this.frame = { peakDb: Math.max(...y) };
  }
}
