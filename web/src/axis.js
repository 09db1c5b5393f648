// The plots' value axes: labels that stay short, and room for them.

// A value axis's label, short however large or small: plain up to four
// digits, in powers of ten beyond.
export function axisLabel(value) {
  const magnitude = Math.abs(value);
  if (value === 0 || (magnitude >= 1e-3 && magnitude < 1e4)) return String(Number(value.toPrecision(4)));
  return Number(value.toPrecision(3)).toExponential().replace('e+', 'e');
}

// The value axis's width in pixels, from its longest label.
export function axisSize(_plot, labels) {
  const longest = Math.max(0, ...(labels ?? []).map((label) => String(label).length));
  return Math.max(50, 16 + 7.5 * longest);
}
