// The order of the variables list: the pins first, in pin order; then the
// variables the playing texts name; then those only earlier texts named,
// which the module keeps (with their values) until a restart.

// Rows [{index, name, group}] for the engine's variable names (index into
// them), `pins` the pins' variable names, `playing` the names the playing
// texts use; group is 'pin', 'playing' or 'earlier'.
export function watchRows(names, pins, playing) {
  const at = new Map(names.map((name, index) => [name, index]));
  const pinSet = new Set(pins);
  const playingSet = new Set(playing);
  const rows = pins.filter((name) => at.has(name)).map((name) => ({ index: at.get(name), name, group: 'pin' }));
  const rest = names.map((name, index) => ({ index, name })).filter(({ name }) => !pinSet.has(name));
  for (const row of rest) if (playingSet.has(row.name)) rows.push({ ...row, group: 'playing' });
  for (const row of rest) if (!playingSet.has(row.name)) rows.push({ ...row, group: 'earlier' });
  return rows;
}
