'use strict';
/* global Parse */
// The service's cloud functions, as the client calls them. Parameters are texts;
// every one is checked before use.
const crypto = require('crypto');
const { spawn } = require('child_process');
const state = require('../lib/state');
const { locations } = require('../lib/data');
const { sha1, SHARED_SIGNUP } = require('../lib/hashes');

const LOGIN_FAILURE_LIMIT = 5;
const LOGIN_FAILURE_WINDOW_MS = 60 * 1000;
const AUTHORIZE_TOKEN_LIFETIME_MS = 30 * 60 * 1000;
const SIGNUP_WINDOW_MS = 60 * 60 * 1000;
const MAX_SIGNUPS_PER_WINDOW = 20;

function text(params, key, { required = true, max = 512 } = {}) {
  const v = params[key];
  if (v === undefined || v === null) {
    if (required) throw new Parse.Error(Parse.Error.INVALID_VALUE, `missing parameter "${key}"`);
    return '';
  }
  if (typeof v !== 'string' || v.length > max) {
    throw new Parse.Error(Parse.Error.INVALID_VALUE, `parameter "${key}" must be a text of at most ${max} characters`);
  }
  return v;
}

function recentFailures(username, now) {
  const list = (state.loginFailures.get(username) || []).filter((t) => now - t < LOGIN_FAILURE_WINDOW_MS);
  state.loginFailures.set(username, list);
  return list;
}

// Reply: {"status": "success", "sessionToken", "objectId", "username"} or {"status": "failed"}.
// Too many failures: error 155 whose message is a JSON text naming "nextValidRequestDate".
Parse.Cloud.define('authenticateUser', async (request) => {
  const username = text(request.params, 'username').trim().toLowerCase();
  const password = text(request.params, 'password');
  text(request.params, 'platform', { required: false });
  text(request.params, 'version', { required: false });
  const now = Date.now();
  const failures = recentFailures(username, now);
  if (failures.length >= LOGIN_FAILURE_LIMIT) {
    const next = new Date(failures[0] + LOGIN_FAILURE_WINDOW_MS).toISOString();
    throw new Parse.Error(Parse.Error.REQUEST_LIMIT_EXCEEDED,
      JSON.stringify({ error: 'Too many requests in this time frame.', nextValidRequestDate: next }));
  }
  if (!username || !password) return { status: 'failed' };
  // The session belongs to the caller's installation: a sign-in on one device must not
  // end the sessions of the others (the SDK's own id here is the same for every caller).
  const installationId = request.installationId || crypto.randomUUID();
  try {
    const user = await Parse.User.logIn(username, password, { installationId });
    state.loginFailures.delete(username);
    return { status: 'success', sessionToken: user.getSessionToken(), objectId: user.id, username };
  } catch (e) {
    if (e.code !== Parse.Error.OBJECT_NOT_FOUND) throw e;
    failures.push(now);
    return { status: 'failed' };
  }
});

// Reply: a dictionary; "result" is "success" with the account details, or "failed".
// The VPN servers ask at every connect, the application at every sign-in. The password an
// account last proved is remembered, as a keyed digest, for as long as the account stays
// unchanged (a new password changes it): the answer is the same, without the password
// hash's 100 ms.
const proven = new Map(); // username -> { stamp, digest }
const provenKey = crypto.randomBytes(32);
const digestOf = (password) => crypto.createHmac('sha256', provenKey).update(password).digest();

async function accountProves(username, password) {
  const user = await new Parse.Query(Parse.User).equalTo('username', username).first({ useMasterKey: true });
  if (!user) return false;
  const stamp = user.updatedAt.getTime();
  const digest = digestOf(password);
  const known = proven.get(username);
  if (known && known.stamp === stamp && crypto.timingSafeEqual(known.digest, digest)) return true;
  try {
    await Parse.User.verifyPassword(username, password, { useMasterKey: true });
  } catch (e) {
    return false;
  }
  proven.set(username, { stamp, digest });
  return true;
}

Parse.Cloud.define('syncVPNAcccountDetails', async (request) => {
  const username = text(request.params, 'username').trim().toLowerCase();
  const password = text(request.params, 'password');
  const source = text(request.params, 'source', { required: false, max: 64 });
  if (!username || !password || !(await accountProves(username, password))) {
    return { result: 'failed', message: 'Invalid account credentials.' };
  }
  return {
    result: 'success',
    message: 'Account details synchronised.',
    username,
    vpnUsername: username,
    accountStatus: 'active',
    planName: 'Testbed',
    source,
  };
});

// Reply: the objectId (a text) of the location chosen for the user's time zone, else the
// first recommended one.
Parse.Cloud.define('getAutomaticLocation', async (request) => {
  text(request.params, 'userip', { max: 64 });
  const zone = text(request.params, 'userTimeZone', { required: false, max: 128 });
  text(request.params, 'platform', { required: false, max: 64 });
  text(request.params, 'version', { required: false, max: 64 });
  const byZone = locations.find((l) => l.timeZones.includes(zone));
  const pick = byZone || locations.find((l) => l.recommended) || locations[0];
  const config = await new Parse.Query('VPNConfig').equalTo('countryCode', pick.code).first({ useMasterKey: true });
  if (!config) throw new Parse.Error(Parse.Error.OBJECT_NOT_FOUND, 'no location configured');
  return config.id;
});

// Parameters (all optional): "platform", "version". Reply: the texts of the top and
// bottom notification bars and the bottom bar's icon file ("bottomicon").
Parse.Cloud.define('getNotificationsDataV2', async (request) => {
  text(request.params, 'platform', { required: false, max: 64 });
  text(request.params, 'version', { required: false, max: 64 });
  const notice = await new Parse.Query('NotificationData').first({ useMasterKey: true });
  if (!notice) return {};
  const reply = {};
  for (const key of ['toptextbold', 'toplink', 'toptext', 'style', 'bottomtextbold', 'bottomlink', 'bottomtext']) {
    reply[key] = notice.get(key) || '';
  }
  const icon = notice.get('bottomicon');
  if (icon) reply.bottomicon = icon;
  return reply;
});

function signupError(errorCode, message) {
  return new Parse.Error(Parse.Error.SCRIPT_FAILED, JSON.stringify({ errorCode, message }));
}

// The testbed's IKEv2 responder keeps its accounts itself: a new one is handed to it
// (openvpn asks the backend at each connect). A failure only costs that road.
function tellVPNServers(username, password) {
  const hook = process.env.TESTBED_ACCOUNT_HOOK;
  if (!hook || /[\r\n]/.test(username + password)) return Promise.resolve();
  return new Promise((resolve) => {
    const child = spawn(hook, ['add-account', process.env.TESTBED_DIR], { stdio: ['pipe', 'ignore', 'inherit'] });
    const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
    child.on('error', () => { clearTimeout(timer); resolve(); });
    child.on('exit', (code) => {
      clearTimeout(timer);
      if (code !== 0) console.error(`testbed: the VPN servers did not take the new account (exit ${code})`);
      resolve();
    });
    child.stdin.end(`${username}\n${password}\n`);
  });
}

// Reply: {"result": "success", "message"}; a refusal is an error whose text is the JSON
// object {"errorCode", "message"}.
Parse.Cloud.define('signupForFreeTrial', async (request) => {
  const p = request.params;
  const emailB64 = text(p, 'email_b64');
  const passwordB64 = text(p, 'password_b64');
  const uuid = text(p, 'uuid', { max: 128 });
  const authToken = text(p, 'authorization_token', { max: 128 });
  const token = text(p, 'token', { required: false, max: 128 });
  text(p, 'source', { required: false, max: 64 });
  const v2 = text(p, 'v2', { required: false, max: 8 }) === 'true';
  for (const k of ['utm_source', 'utm_term', 'utm_campaign', 'utm_medium', 'pixel_url']) {
    text(p, k, { required: false, max: 2048 });
  }
  const email = Buffer.from(emailB64, 'base64').toString('utf8').trim().toLowerCase();
  const password = Buffer.from(passwordB64, 'base64').toString('utf8');
  // Codes as the client reads them: 1 account exists, 10 too many attempts;
  // other refusals are generic (20 bad input, 21 token, 22 hash).
  if (!/^[^\s@]+@[^\s@]+\.[^\s@]+$/.test(email)) throw signupError(20, 'Please enter a valid e-mail address.');
  if (password.length < 6) throw signupError(20, 'The password must have at least 6 characters.');

  const issued = state.authorizeTokens.get(authToken);
  if (!issued || issued.email_b64 !== emailB64 || issued.uuid !== uuid ||
      Date.now() - issued.issued > AUTHORIZE_TOKEN_LIFETIME_MS) {
    throw signupError(21, 'The sign-up authorization is not valid. Please try again.');
  }
  if (v2 && token !== sha1(`${emailB64}:${passwordB64}:${uuid}:${authToken}:${SHARED_SIGNUP}`)) {
    throw signupError(22, 'The sign-up request could not be verified.');
  }
  const existing = await new Parse.Query(Parse.User).equalTo('username', email).first({ useMasterKey: true });
  if (existing) throw signupError(1, 'An account with this e-mail address already exists.');
  const now = Date.now();
  const made = state.recent(state.signUpAttempts, uuid, SIGNUP_WINDOW_MS, now);
  if (made.length >= MAX_SIGNUPS_PER_WINDOW) throw signupError(10, 'Too many accounts created from this device.');
  made.push(now);
  state.authorizeTokens.delete(authToken);

  const user = new Parse.User();
  user.set('username', email);
  user.set('email', email);
  user.set('password', password);
  await user.signUp(null, { useMasterKey: true });
  await tellVPNServers(email, password);
  return { result: 'success', message: 'Your account has been created.' };
});

Parse.Cloud.beforeSave('FavoriteVPNConfig', (request) => {
  if (request.master) return;
  if (!request.user) throw new Parse.Error(Parse.Error.SESSION_MISSING, 'a signed-in user is required');
  request.object.set('user', request.user);
  const acl = new Parse.ACL(request.user);
  request.object.setACL(acl);
});

for (const cls of ['ErrorLogReport', 'AppException']) {
  Parse.Cloud.beforeSave(cls, (request) => {
    if (request.master) return;
    // Reports are written by clients and read by the service only.
    request.object.setACL(new Parse.ACL());
    const user = request.object.get('user');
    if (user && (!request.user || user.id !== request.user.id)) {
      throw new Parse.Error(Parse.Error.OPERATION_FORBIDDEN, 'a report may only name its own user');
    }
  });
}
