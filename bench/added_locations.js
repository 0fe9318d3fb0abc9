// Sets how many locations the benches add to the testbed: every one added
// earlier is removed, then COUNT clones of the seeded Japan are made, named
// "Bench N", through the master key. Usage: node added_locations.js COUNT,
// with the testbed's env file in the environment.
'use strict';
const count = Number(process.argv[2] || 0);
const env = process.env;
const base = `https://${env.HAVENWAY_BACKEND_HOST}/parse`;
const headers = {
  'X-Parse-Application-Id': env.HAVENWAY_TESTBED_APP_ID,
  'X-Parse-Master-Key': env.HAVENWAY_TESTBED_MASTER_KEY,
  'Content-Type': 'application/json',
};

async function call(method, path, body) {
  const reply = await fetch(base + path, { method, headers, body: body && JSON.stringify(body) });
  if (!reply.ok) throw new Error(`${method} ${path}: ${reply.status} ${await reply.text()}`);
  return reply.json();
}

// A few at a time: the server answers each on its own.
async function inGroups(items, each) {
  for (let i = 0; i < items.length; i += 50) await Promise.all(items.slice(i, i + 50).map(each));
}

async function main() {
  const where = (w) => encodeURIComponent(JSON.stringify(w));
  const added = (await call('GET', `/classes/VPNConfig?limit=100000&keys=objectId&where=${where({ name: { $regex: '^Bench ' } })}`)).results;
  await inGroups(added, (o) => call('DELETE', `/classes/VPNConfig/${o.objectId}`));
  const [seeded] = (await call('GET', `/classes/VPNConfig?limit=1&where=${where({ name: 'Japan' })}`)).results;
  if (!seeded) throw new Error('no seeded Japan');
  for (const key of ['objectId', 'createdAt', 'updatedAt']) delete seeded[key];
  const numbers = Array.from({ length: count }, (_, i) => i);
  await inGroups(numbers, (i) => call('POST', '/classes/VPNConfig', { ...seeded, name: `Bench ${i}`, sortOrder: 100 + i }));
}

main().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
