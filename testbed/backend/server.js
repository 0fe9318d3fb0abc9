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

function env(name) {
  const v = process.env[name];
  if (!v) throw new Error(`${name} is not set`);
  return v;
}

async function main() {
  const dir = env('TESTBED_DIR');
  const host = '127.0.0.1';
  const parsePort = Number(env('TESTBED_PARSE_PORT'));
  const webPort = Number(env('TESTBED_WEB_PORT'));
  const backendHost = `${host}:${parsePort}`;
  const webHost = `${host}:${webPort}`;
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
    masterKeyIps: ['127.0.0.1', '::1'],
    databaseURI: env('TESTBED_DATABASE_URI'),
    serverURL: `https://${backendHost}/parse`,
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

  const listen = (server, port) => new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, host, resolve);
  });
  await listen(https.createServer(tls, app), parsePort);
  const { Parse } = global;
  await listen(https.createServer(tls, makeHandler({ Parse, appId, webHost })), webPort);

  await seed(Parse, { webHost, backendHost });
  fs.writeFileSync(path.join(dir, 'ready'), `${process.pid}\n`);
  console.log(`testbed ready: backend https://${backendHost}/parse, web API https://${webHost}`);
}

process.on('SIGTERM', () => process.exit(0));
process.on('SIGINT', () => process.exit(0));
main().catch((e) => {
  console.error('testbed failed to start:', e);
  process.exit(1);
});
