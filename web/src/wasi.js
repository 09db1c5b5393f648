// The few system calls the engine's C library may make, for a WebAssembly
// instance with no system under it: a clock (randomize seeds from it) and
// writes to standard error (an abort message) sent to the console. Every
// other call the module imports answers ENOSYS.

const ENOSYS = 52;

// The import object for `module`, whose memory is reached through memory().
export function wasiImports(module, memory) {
  const calls = {
    clock_time_get(_clock, _precision, out) {
      const nanoseconds = BigInt(Math.round(Date.now() * 1e6));
      new DataView(memory().buffer).setBigUint64(out, nanoseconds, true);
      return 0;
    },
    fd_write(_fd, iovs, count, written) {
      const view = new DataView(memory().buffer);
      let total = 0;
      let text = '';
      for (let k = 0; k < count; k++) {
        const base = view.getUint32(iovs + 8 * k, true);
        const length = view.getUint32(iovs + 8 * k + 4, true);
        for (let i = 0; i < length; i++) text += String.fromCharCode(view.getUint8(base + i));
        total += length;
      }
      if (text.trim()) console.warn(`engine: ${text.trim()}`);
      view.setUint32(written, total, true);
      return 0;
    },
  };
  const imports = {};
  for (const { module: from, name, kind } of WebAssembly.Module.imports(module)) {
    if (kind !== 'function') continue;
    imports[from] ??= {};
    imports[from][name] = calls[name] ?? (() => ENOSYS);
  }
  return imports;
}
