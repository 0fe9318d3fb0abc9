'use strict';
// The testbed openvpn server's account check, one process for the server's life: openvpn's
// plugin (backend_auth_plugin.c) hands it each connect over a Unix socket, and it asks the
// backend, so an account made a moment ago connects too.
//   node backend_checker.js CONFIG_JSON SOCKET
// CONFIG_JSON names the backend: {"url", "ca", "appId", "clientKey"}.
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

// One connect's check (backend_auth_plugin.c): the user name and the password on a line
// each; the answer is one byte, '1' to accept.
function serve(socket) {
  let buffered = '';
  let asked = false;
  socket.setEncoding('utf8');
  socket.setTimeout(15000, () => socket.destroy());
  socket.on('error', () => {});
  socket.on('data', async (chunk) => {
    buffered += chunk;
    const lines = buffered.split('\n');
    if (asked || lines.length < 3) return;
    asked = true;
    const ok = await accepted(lines[0], lines[1]);
    socket.end(ok ? '1' : '0');
  });
}

// Ready once it listens: start_server waits for the socket before openvpn starts.
fs.rmSync(socketPath, { force: true });
net.createServer(serve).listen(socketPath, () => fs.chmodSync(socketPath, 0o600));
