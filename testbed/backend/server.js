'use strict';
// Starts the testbed: Parse Server and the web API, both over HTTPS on loopback, seeds a
// fresh database and writes the ready file that scripts/testbed waits for.
const fs = require('fs');
const https = require('https');
const path = require('path');
const express = require('express');
const { ParseServer } = require('parse-server');
const FSFilesAdapter = require('@parse/fs-files-adapter');
const { seed } = require('./lib/seed');
const { makeHandler } = require('./lib/web_api');
const { offer } = require('./lib/update');

function env(name) {
  const v = process.env[name];
  if (!v) throw new Error(`${name} is not set`);
  return v;
}

async function main() {
  const dir = env('TESTBED_DIR');
  const host = '127.0.0.1';
  // With the VPN servers up, the backend also listens on the machine's end of their link
  // and names itself by that address, which the client namespace reaches too.
  const linkHost = process.env.TESTBED_LINK_HOST || '';
  const listenHosts = linkHost ? [host, linkHost] : [host];
  const publicHost = linkHost || host;
  const parsePort = Number(env('TESTBED_PARSE_PORT'));
  const webPort = Number(env('TESTBED_WEB_PORT'));
  const backendHost = `${publicHost}:${parsePort}`;
  const webHost = `${publicHost}:${webPort}`;
  const tls = {
    key: fs.readFileSync(path.join(dir, 'ca', 'server.key')),
    cert: fs.readFileSync(path.join(dir, 'ca', 'server.crt')),
  };
  const appId = env('TESTBED_APP_ID');

  const parseServer = new ParseServer({
    appId,
    clientKey: env('TESTBED_CLIENT_KEY'),
    masterKey: env('TESTBED_MASTER_KEY'),
    // Only the in-process SDK (cloud code calling back over HTTPS) knows this key.
    javascriptKey: require('crypto').randomBytes(20).toString('hex'),
    masterKeyIps: ['127.0.0.1', '::1', ...(linkHost ? [linkHost] : [])],
    databaseURI: env('TESTBED_DATABASE_URI'),
    serverURL: `https://${host}:${parsePort}/parse`,
    publicServerURL: `https://${backendHost}/parse`,
    cloud: path.join(__dirname, 'cloud', 'main.js'),
    filesAdapter: new FSFilesAdapter({ filesSubDirectory: 'parse' }),
    // In-process routing fails on routes without parameters in this version; go over HTTPS.
    directAccess: false,
    allowClientClassCreation: false,
    enforcePrivateUsers: true,
    maxUploadSize: '5mb',
    fileUpload: { enableForPublic: false, enableForAnonymousUser: false, enableForAuthenticatedUser: true },
    logLevel: 'warn',
    // Failed calls would be logged with their parameters: passwords among them.
    logLevels: {
      cloudFunctionError: 'silent', cloudFunctionSuccess: 'silent', signupUsernameTaken: 'silent',
      triggerAfter: 'silent', triggerBeforeError: 'silent', triggerBeforeSuccess: 'silent',
    },
    verbose: false,
  });
  await parseServer.start();

  const app = express();
  // The reachability check sends HEAD to the bare host and wants a 200.
  app.get('/', (req, res) => res.status(200).type('text/plain').send('Havenway testbed backend'));
  app.use('/parse', parseServer.app);

  const listen = (handler, port) => Promise.all(listenHosts.map((h) => new Promise((resolve, reject) => {
    const server = https.createServer(tls, handler);
    server.once('error', reject);
    server.listen(port, h, resolve);
  })));
  await listen(app, parsePort);
  const { Parse } = global;
  await listen(makeHandler({ Parse, appId, webHost, masterKey: env('TESTBED_MASTER_KEY') }), webPort);

  await seed(Parse, { webHost, backendHost, vpn: vpnSeed() });
  if (process.env.TESTBED_UPDATE_ARCHIVE) {
    await offer(Parse, { archive: process.env.TESTBED_UPDATE_ARCHIVE, version: env('TESTBED_UPDATE_VERSION') });
  }
  fs.writeFileSync(path.join(dir, 'ready'), `${process.pid}\n`);
  console.log(`testbed ready: backend https://${backendHost}/parse, web API https://${webHost}`);
}

// What the seeded locations need of the testbed's VPN servers, when they run.
function vpnSeed() {
  const resolver = process.env.TESTBED_DNS_RESOLVER;
  if (!resolver) return null;
  return {
    resolver,
    mainDomain: process.env.TESTBED_MAIN_DOMAIN || 'havenway.test',
    ca: fs.readFileSync(env('TESTBED_OPENVPN_CA'), 'utf8'),
    tlsCrypt: fs.readFileSync(env('TESTBED_OPENVPN_TLS_CRYPT'), 'utf8'),
  };
}

process.on('SIGTERM', () => process.exit(0));
process.on('SIGINT', () => process.exit(0));
main().catch((e) => {
  console.error('testbed failed to start:', e);
  process.exit(1);
});
