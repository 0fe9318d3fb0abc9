'use strict';
// Shared strings of the account sign-up hashes (the client holds the same).
const crypto = require('crypto');

const SHARED_AUTHORIZE_V1 = 'GHtuki884417%&!!&!';
const SHARED_AUTHORIZE_V2 = 'if (k == 3) { y = seed() - 4; }';
const SHARED_SIGNUP = 'KLMq7741%%@%';

function sha1(s) {
  return crypto.createHash('sha1').update(s, 'utf8').digest('hex');
}

function authorizeHash(emailB64, uuid, v2) {
  return sha1(`${emailB64}:${uuid}:${v2 ? SHARED_AUTHORIZE_V2 : SHARED_AUTHORIZE_V1}`);
}

module.exports = { sha1, authorizeHash, SHARED_SIGNUP };
