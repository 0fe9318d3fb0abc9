'use strict';
// auth-user-pass-verify via-file for the testbed's openvpn server: each connect's account
// is checked against the backend, so an account made a moment ago connects too.
//   node verify_backend.js CONFIG_JSON CREDENTIALS_FILE
// CONFIG_JSON names the backend: {"url", "ca", "appId", "clientKey"}. Exit 0 accepts.
const fs = require('fs');
const https = require('https');

const [configFile, credentialsFile] = process.argv.slice(2);
const refuse = () => process.exit(1);
try {
  const config = JSON.parse(fs.readFileSync(configFile, 'utf8'));
  const [username = '', password = ''] = fs.readFileSync(credentialsFile, 'utf8').split('\n');
  const body = JSON.stringify({ username, password, source: 'testbed-openvpn' });
  const request = https.request(`${config.url}/functions/syncVPNAcccountDetails`, {
    method: 'POST',
    ca: fs.readFileSync(config.ca),
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
      let ok = false;
      try { ok = response.statusCode === 200 && JSON.parse(text).result.result === 'success'; } catch (e) { ok = false; }
      process.exit(ok ? 0 : 1);
    });
  });
  request.on('error', refuse);
  request.on('timeout', () => request.destroy(new Error('timeout')));
  request.end(body);
} catch (e) {
  refuse();
}
