'use strict';
// In-memory state shared by the web API and the cloud code (one process).
module.exports = {
  // authorization_token -> { email_b64, uuid, issued }
  authorizeTokens: new Map(),
  // username -> [failure times in ms]
  loginFailures: new Map(),
  // analytics events as received, newest last (bounded)
  analytics: [],
  // OAuth: code -> user name; access token -> user name
  oauthCodes: new Map(),
  oauthTokens: new Map(),
};
