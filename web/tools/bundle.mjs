// Bundles the page and its audio worklet with their libraries into the
// site folder, and copies the page itself. Run by web/build.
//
//   node web/tools/bundle.mjs SITE_DIR
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import * as esbuild from 'esbuild';

const web = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const site = path.resolve(process.argv[2]);

const common = { bundle: true, minify: true, sourcemap: 'linked', target: 'es2022', logLevel: 'warning' };
await esbuild.build({
  ...common,
  entryPoints: { app: path.join(web, 'src/main.js') },
  outdir: site,
  format: 'esm',
});
// A worklet's scope has no module loader of its own worth relying on:
// one self-contained script.
await esbuild.build({
  ...common,
  entryPoints: { worklet: path.join(web, 'src/worklet.js') },
  outdir: site,
  format: 'iife',
});
fs.copyFileSync(path.join(web, 'src/index.html'), path.join(site, 'index.html'));
console.log(`  bundled into ${path.relative(process.cwd(), site)}`);
