'use strict';
// The testbed's name server, in the VPN servers' namespace: every A question for a name
// under DOMAIN gets the servers' address, the domain itself DNS_APEX_ADDRESS (when set);
// anything else is NXDOMAIN. Each question is logged with the address it was asked at, so
// that tests can tell which way a lookup went.
//   node dns.js DOMAIN ADDRESS LISTEN_ADDRESS...
// One socket per address: a reply must come from the address asked, which a socket on
// the wildcard address would not ensure.
const dgram = require('dgram');

const [domain, address, ...listen] = process.argv.slice(2);
const parse = (text) => (text || '').split('.').map(Number);
const valid = (o) => o.length === 4 && o.every((x) => x >= 0 && x <= 255);
const octets = parse(address);
const apex = process.env.DNS_APEX_ADDRESS ? parse(process.env.DNS_APEX_ADDRESS) : null;
if (!domain || !listen.length || !valid(octets) || (apex && !valid(apex))) {
  console.error('usage: node dns.js DOMAIN ADDRESS LISTEN_ADDRESS...');
  process.exit(2);
}

// The question's name and where the question ends, or null for anything malformed.
function question(msg) {
  if (msg.length < 12 || msg.readUInt16BE(4) !== 1) return null;
  const labels = [];
  let at = 12;
  while (at < msg.length) {
    const len = msg[at];
    if (len === 0) break;
    if (len > 63 || at + 1 + len > msg.length) return null;
    labels.push(msg.toString('latin1', at + 1, at + 1 + len));
    at += 1 + len;
  }
  if (at + 5 > msg.length) return null;
  return { name: labels.join('.').toLowerCase(), type: msg.readUInt16BE(at + 1), end: at + 5 };
}

function answer(msg) {
  const q = question(msg);
  if (!q) return null;
  const isApex = apex && q.name === domain;
  const ours = isApex || q.name.endsWith(`.${domain}`);
  const head = Buffer.from(msg.subarray(0, q.end));
  head.writeUInt16BE(0x8180 | (ours ? 0 : 3), 2); // a response, recursion available, NXDOMAIN when not ours
  head.writeUInt16BE(0, 8);
  head.writeUInt16BE(0, 10);
  if (!ours || q.type !== 1) {
    head.writeUInt16BE(0, 6);
    return head;
  }
  head.writeUInt16BE(1, 6);
  const record = Buffer.from([0xc0, 0x0c, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, ...(isApex ? apex : octets)]);
  return Buffer.concat([head, record]);
}

let bound = 0;
for (const at of listen) {
  const socket = dgram.createSocket('udp4');
  socket.on('message', (msg, peer) => {
    const reply = answer(msg);
    if (!reply) return;
    const q = question(msg);
    console.log(`query ${q.name.replace(/[^\x21-\x7e]/g, '?')} at ${at} from ${peer.address}`);
    socket.send(reply, peer.port, peer.address);
  });
  socket.bind(53, at, () => {
    if (++bound === listen.length) console.log(`dns ready: *.${domain} is ${address}`);
  });
}
process.on('SIGTERM', () => process.exit(0));
