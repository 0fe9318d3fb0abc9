'use strict';
// The testbed openvpn server's account check, one process for the server's life: openvpn
// hands each connect to it over its management socket (--management-client-auth), and it
// asks the backend, so an account made a moment ago connects too.
//   node backend_checker.js CONFIG_JSON MANAGEMENT_SOCKET
// CONFIG_JSON names the backend: {"url", "ca", "appId", "clientKey"}. It releases the
// server's hold once connected, and ends when the server does.
const fs = require('fs');
const https = require('https');
const net = require('net');

const [configFile, socketPath] = process.argv.slice(2);
const config = JSON.parse(fs.readFileSync(configFile, 'utf8'));
// One connection kept to the backend: no TLS handshake per connect.
const agent = new https.Agent({ keepAlive: true, maxSockets: 4, ca: fs.readFileSync(config.ca) });

function accepted(username, password) {
  const body = JSON.stringify({ username, password, source: 'testbed-openvpn' });
  return new Promise((resolve) => {
    const request = https.request(`${config.url}/functions/syncVPNAcccountDetails`, {
      method: 'POST',
      agent,
      timeout: 10000,
      headers: {
        'Content-Type': 'application/json',
        'Content-Length': Buffer.byteLength(body),
        'X-Parse-Application-Id': config.appId,
        'X-Parse-Client-Key': config.clientKey,
      },
    }, (response) => {
      let text = '';
      response.setEncoding('utf8');
      response.on('data', (chunk) => { text += chunk; });
      response.on('end', () => {
        try {
          resolve(response.statusCode === 200 && JSON.parse(text).result.result === 'success');
        } catch (e) {
          resolve(false);
        }
      });
      response.on('error', () => resolve(false));
    });
    request.on('error', () => resolve(false));
    request.on('timeout', () => request.destroy(new Error('timeout')));
    request.end(body);
  });
}

// A client's CONNECT or REAUTH with its environment, as openvpn sends it:
//   >CLIENT:CONNECT,{CID},{KID}  then  >CLIENT:ENV,name=value ...  >CLIENT:ENV,END
function serve(socket) {
  let buffered = '';
  let pending = null;  // the request whose ENV lines are arriving
  const answer = (line) => { if (!socket.destroyed) socket.write(`${line}\n`); };
  const decide = async ({ cid, kid, env }) => {
    const ok = await accepted(env.username || '', env.password || '');
    answer(ok ? `client-auth-nt ${cid} ${kid}` : `client-deny ${cid} ${kid} "account check failed"`);
  };
  socket.setEncoding('utf8');
  socket.on('data', (chunk) => {
    buffered += chunk;
    let end;
    while ((end = buffered.indexOf('\n')) >= 0) {
      const line = buffered.slice(0, end).replace(/\r$/, '');
      buffered = buffered.slice(end + 1);
      const request = /^>CLIENT:(CONNECT|REAUTH),(\d+),(\d+)$/.exec(line);
      if (request) {
        pending = { cid: request[2], kid: request[3], env: {} };
      } else if (line.startsWith('>CLIENT:ENV,') && pending) {
        const pair = line.slice('>CLIENT:ENV,'.length);
        if (pair === 'END') {
          decide(pending);
          pending = null;
        } else {
          const eq = pair.indexOf('=');
          if (eq > 0) pending.env[pair.slice(0, eq)] = pair.slice(eq + 1);
        }
      } else if (line.startsWith('>HOLD:')) {
        answer('hold release');
      }
    }
  });
}

// openvpn makes its socket as it starts: wait for it, bounded.
function connect(triesLeft) {
  const socket = net.createConnection(socketPath);
  let connected = false;
  socket.once('connect', () => {
    connected = true;
    serve(socket);
  });
  socket.on('error', () => {
    if (connected) return;  // 'close' follows
    socket.destroy();
    if (triesLeft <= 0) process.exit(1);
    setTimeout(() => connect(triesLeft - 1), 20);
  });
  socket.on('close', () => { if (connected) process.exit(0); });
}

connect(500);
