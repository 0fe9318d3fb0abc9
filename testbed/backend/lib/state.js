'use strict';
// In-memory state shared by the web API and the cloud code (one process).

// Keeps the times within the window and answers how many remain.
function recent(map, key, windowMs, now) {
  const list = (map.get(key) || []).filter((t) => now - t < windowMs);
  map.set(key, list);
  return list;
}

module.exports = {
  recent,
  // authorization_token -> { email_b64, uuid, issued }
  authorizeTokens: new Map(),
  // uuid -> [authorize request times in ms]; uuid -> [account creation times in ms]
  authorizeAttempts: new Map(),
  signUpAttempts: new Map(),
  // username -> [failure times in ms]
  loginFailures: new Map(),
  // analytics events as received, newest last (bounded)
  analytics: [],
  // OAuth: code -> user name; access token -> user name
  oauthCodes: new Map(),
  oauthTokens: new Map(),
};
