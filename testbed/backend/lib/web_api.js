'use strict';
// The service's web API beside the backend: information widget, sign-up authorisation,
// analytics tracker, public-address lookup, probe, identity service, update archive.
const crypto = require('crypto');
const state = require('./state');
const { authorizeHash } = require('./hashes');
const images = require('./images');
const { accounts } = require('./data');
const update = require('./update');

const MAX_BODY = 64 * 1024;
const MAX_ANALYTICS = 1000;
const AUTHORIZE_WINDOW_MS = 60 * 60 * 1000;
const MAX_AUTHORIZE_PER_WINDOW = 50;
const OAUTH_CLIENT_ID = 'Xq7pLmN2vR8tKw4zYb6cHd9fJs3gTn5e';
const OAUTH_CLIENT_SECRET = 'Vb3nQ7xKm2Lp9Rt4Wz8Yc6Hd1Fj5Gs0Nk3Pq7Tv2Xw9Zb4Mc8Ld6Rf1Hj5Kn0SpA';
const OAUTH_REDIRECT = 'havenway://oauth/callback';
// Always accepted, so tests can run the exchange without the browser step.
const OAUTH_TEST_CODE = 'testbed-enterprise-code';
const ENTERPRISE_ACCOUNT = accounts[0];

const widgetIcon = images.png(48, 48, (x, y) => ((x - 24) ** 2 + (y - 24) ** 2 < 400 ? [29, 113, 204] : [255, 255, 255]));

function send(res, status, body, headers = {}) {
  const data = Buffer.isBuffer(body) ? body : Buffer.from(typeof body === 'string' ? body : JSON.stringify(body));
  const type = Buffer.isBuffer(body) ? 'application/octet-stream'
    : typeof body === 'string' ? 'text/html; charset=utf-8' : 'application/json; charset=utf-8';
  res.writeHead(status, { 'Content-Type': type, 'Content-Length': data.length, 'Cache-Control': 'no-store', ...headers });
  res.end(res.req.method === 'HEAD' ? undefined : data);
}

function readBody(req) {
  return new Promise((resolve, reject) => {
    const parts = [];
    let size = 0;
    req.on('data', (c) => {
      size += c.length;
      if (size > MAX_BODY) {
        reject(Object.assign(new Error('body too large'), { status: 413 }));
        req.destroy();
        return;
      }
      parts.push(c);
    });
    req.on('end', () => resolve(Buffer.concat(parts).toString('utf8')));
    req.on('error', reject);
  });
}

// The sign-up authorize form carries Base64 values unescaped ("+" stays "+"), so split
// by hand instead of form-decoding.
function rawForm(body) {
  const out = {};
  for (const pair of body.split('&')) {
    const i = pair.indexOf('=');
    if (i > 0) out[pair.slice(0, i)] = pair.slice(i + 1);
  }
  return out;
}

function page(title) {
  return `<!doctype html><html><head><meta charset="utf-8"><title>${title}</title></head>` +
    `<body><h1>${title}</h1><p>Havenway testbed page.</p></body></html>`;
}

function clientAddress(req) {
  return (req.socket.remoteAddress || '').replace(/^::ffff:/, '');
}

async function sessionUser(Parse, token) {
  if (typeof token !== 'string' || !/^r:[0-9a-f]{32}$/.test(token)) return null;
  const session = await new Parse.Query(Parse.Session).equalTo('sessionToken', token)
    .include('user').first({ useMasterKey: true });
  if (!session || (session.get('expiresAt') && session.get('expiresAt') < new Date())) return null;
  return session.get('user') || null;
}

function makeHandler({ Parse, appId, webHost, masterKey }) {
  const web = `https://${webHost}`;
  const routes = {
    'GET /': () => [200, page('Havenway')],
    'GET /probe': () => [200, 'OK'],
    'GET /api/ipinfo': (req) => [200, { ip: clientAddress(req), country_code: 'NL', time_zone: 'Europe/Amsterdam' }],
    'POST /api/freeTrial/authorizeForFreeTrial.php': (req, body) => authorize(body, false),
    'POST /api/freeTrial/authorizeForFreeTrial_v2.php': (req, body) => authorize(body, true),
    'POST /api/app-analytics.php': (req, body) => {
      state.analytics.push({ time: new Date().toISOString(), contentType: req.headers['content-type'] || '', body });
      if (state.analytics.length > MAX_ANALYTICS) state.analytics.shift();
      return [200, { result: 'success' }];
    },
    'GET /testbed/analytics': () => [200, state.analytics],
    'POST /api/smart-widget': (req, body) => smartWidget(req, body),
    'GET /api/smart-widget': (req) => smartWidget(req, ''),
    'GET /static/widget-icon.png': () => [200, widgetIcon, { 'Content-Type': 'image/png' }],
    'GET /authorize': (req, body, url) => {
      const q = url.searchParams;
      if (q.get('client_id') !== OAUTH_CLIENT_ID || q.get('redirect_uri') !== OAUTH_REDIRECT) {
        return [400, { error: 'invalid_request' }];
      }
      const code = crypto.randomBytes(16).toString('hex');
      state.oauthCodes.set(code, ENTERPRISE_ACCOUNT.username);
      const target = new URL(OAUTH_REDIRECT);
      target.searchParams.set('code', code);
      if (q.get('state')) target.searchParams.set('state', q.get('state'));
      return [302, '', { Location: target.toString() }];
    },
    'POST /oauth/token': (req, body) => {
      const f = new URLSearchParams(body);
      if (f.get('grant_type') !== 'authorization_code') return [400, { error: 'unsupported_grant_type' }];
      if (f.get('client_id') !== OAUTH_CLIENT_ID || f.get('client_secret') !== OAUTH_CLIENT_SECRET) {
        return [401, { error: 'invalid_client' }];
      }
      if (f.get('redirect_uri') !== OAUTH_REDIRECT) return [400, { error: 'invalid_grant' }];
      const code = f.get('code') || '';
      const user = code === OAUTH_TEST_CODE ? ENTERPRISE_ACCOUNT.username : state.oauthCodes.get(code);
      if (!user) return [400, { error: 'invalid_grant' }];
      state.oauthCodes.delete(code);
      const token = crypto.randomBytes(24).toString('hex');
      state.oauthTokens.set(token, user);
      return [200, { access_token: token, token_type: 'Bearer', expires_in: 3600 }];
    },
    'GET /userinfo': (req) => {
      const m = /^Bearer ([0-9a-f]{48})$/.exec(req.headers.authorization || '');
      const user = m && state.oauthTokens.get(m[1]);
      if (!user) return [401, { error: 'invalid_token' }];
      const account = accounts.find((a) => a.username === user);
      return [200, { sub: user, email: user, user_metadata: { username: account.username, password: account.password } }];
    },
    'GET /downloads/havenway-update.zip': () =>
      [200, update.archive(), { 'Content-Type': 'application/zip', 'Content-Disposition': 'attachment; filename="havenway-update.zip"' }],
    'GET /downloads/havenway-update-critical.zip': () =>
      [200, update.archive(), { 'Content-Type': 'application/zip', 'Content-Disposition': 'attachment; filename="havenway-update-critical.zip"' }],
    'GET /downloads/havenway-update-bad.zip': () =>
      [200, update.badArchive, { 'Content-Type': 'application/zip', 'Content-Disposition': 'attachment; filename="havenway-update-bad.zip"' }],
    // Tests switch the offered update; only from this machine, with the master key.
    'PUT /testbed/update': async (req, body) => {
      const local = ['127.0.0.1', '::1'].includes(clientAddress(req));
      if (!local || req.headers['x-parse-master-key'] !== masterKey) return [403, { error: 'forbidden' }];
      let wanted;
      try {
        wanted = JSON.parse(body || '{}');
      } catch (e) {
        return [400, { error: 'not JSON' }];
      }
      await update.offer(Parse, wanted || {});
      return [200, update.current];
    },
  };
  for (const p of ['/members/pwreset.php', '/signup', '/legal/terms', '/knowledgebase', '/speedtest', '/api/autoclientarealogin.php']) {
    routes[`GET ${p}`] = () => [200, page(p)];
  }

  // Codes as the client reads them: 11 account exists, 12 too many attempts;
  // other refusals are generic (20 missing fields, 21 wrong token).
  async function authorize(body, v2) {
    const f = rawForm(body);
    if (!f.email || !f.uuid || !f.token) return [200, { errorCode: 20, message: 'Missing parameters.' }];
    if (f.email.length > 1024 || f.uuid.length > 128 || f.token !== authorizeHash(f.email, f.uuid, v2)) {
      return [200, { errorCode: 21, message: 'The sign-up request could not be authorized.' }];
    }
    const now = Date.now();
    const attempts = state.recent(state.authorizeAttempts, f.uuid, AUTHORIZE_WINDOW_MS, now);
    if (attempts.length >= MAX_AUTHORIZE_PER_WINDOW) {
      return [200, { errorCode: 12, message: 'Too many sign-up attempts from this device.' }];
    }
    attempts.push(now);
    const email = Buffer.from(f.email, 'base64').toString('utf8').trim().toLowerCase();
    const existing = await new Parse.Query(Parse.User).equalTo('username', email).first({ useMasterKey: true });
    if (existing) return [200, { errorCode: 11, message: 'An account with this e-mail address already exists.' }];
    const token = crypto.randomBytes(16).toString('hex');
    state.authorizeTokens.set(token, { email_b64: f.email, uuid: f.uuid, issued: now });
    return [200, { result: 'success', authorization_token: token }];
  }

  async function smartWidget(req, body) {
    const f = new URLSearchParams(body);
    const token = req.headers['x-parse-session-token'] || f.get('sessionToken') || f.get('session_token');
    const app = req.headers['x-parse-application-id'] || f.get('applicationId') || f.get('application_id');
    if (app !== appId) return [401, { error: 'unknown application' }];
    const user = await sessionUser(Parse, token);
    if (!user) return [401, { error: 'invalid session token' }];
    return [200, {
      title: 'Stay safe on public Wi-Fi',
      subtitle: 'Turn on Wi-Fi security in the settings.',
      link: 'https://{$domainname}/knowledgebase',
      link_text: 'Learn more',
      image: `${web}/static/widget-icon.png`,
    }];
  }

  return async (req, res) => {
    try {
      const url = new URL(req.url, web);
      const method = req.method === 'HEAD' ? 'GET' : req.method;
      const route = routes[`${method} ${url.pathname}`];
      if (!route) {
        send(res, 404, { error: 'not found' });
        return;
      }
      const body = method === 'POST' || method === 'PUT' ? await readBody(req) : '';
      const [status, reply, headers] = await route(req, body, url);
      send(res, status, reply, headers);
    } catch (e) {
      send(res, e.status || 500, { error: e.status ? e.message : 'internal error' });
      if (!e.status) console.error('web api:', e);
    }
  };
}

module.exports = { makeHandler };
