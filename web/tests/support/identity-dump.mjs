// Every outcome of the identity check's functions in the WebAssembly engine,
// as `identity_tool dump` prints them for a native or 32-bit build, so that
// a diff names the first argument where the playground differs:
//
//   diff <(build/native/bin/identity_tool dump sin) <(node web/tests/support/identity-dump.mjs sin)
//
// Without a name, every function. Needs web/build first.
import { loadIdentity } from './identity.mjs';

const identity = loadIdentity();
const wanted = process.argv.slice(2);
identity.names.forEach((name, f) => {
  if (wanted.length === 0 || wanted.includes(name)) process.stdout.write(identity.dump(f));
});
