// One server of bench/web.mjs in a process of its own, so that the load
// generator does not share its event loop: argv[2] names the stack (as in
// test/web/servers.mjs), argv[3] 'buffer' gives express-jwt a Buffer secret
// in place of a KeyObject. The secret comes as hex in KELDO_BENCH_SECRET.
// Prints the port, then serves until stdin closes.
import { startServers } from '../test/web/servers.mjs';

const [stack, secretForm] = process.argv.slice(2);
const secret = Buffer.from(process.env.KELDO_BENCH_SECRET, 'hex');
const env = await startServers({
  keys: secret, secret, only: [stack], ...(secretForm === 'buffer' ? { expressJwtSecret: secret } : {}),
});
process.stdout.write(`${env.servers[stack].port}\n`);
process.stdin.resume();
process.stdin.on('end', () => env.close().then(() => process.exit(0)));
