'use strict';
// The update the testbed offers. By default it announces the seeded version and serves a
// bad archive (a Havenway folder without an application in it). Switched on, at start
// (TESTBED_UPDATE_ARCHIVE, TESTBED_UPDATE_VERSION) or through PUT /testbed/update, it
// announces a newer version and serves a real archive, so the update can be installed.
const fs = require('fs');
const path = require('path');
const images = require('./images');
const { remoteConfig } = require('./data');

const seededVersion = remoteConfig({ webHost: '', backendHost: '' }).latestVersion_OSX;
const badArchive = images.zip({
  'Havenway/VERSION': Buffer.from('1.0.1\n'),
  'Havenway/README': Buffer.from('Havenway testbed update archive.\n'),
});
const VERSION = /^[0-9]{1,4}(\.[0-9]{1,4}){0,3}$/;

const current = { archive: '', version: '' };

// archive: an absolute path to a ZIP file, or '' for the bad one; version: the version to
// announce, or '' for the seeded one. Throws (with status 400) on anything else.
async function offer(Parse, { archive = '', version = '' } = {}) {
  if (typeof archive !== 'string' || typeof version !== 'string') throw Object.assign(new Error('bad update'), { status: 400 });
  if (archive && (!path.isAbsolute(archive) || !fs.statSync(archive, { throwIfNoEntry: false })?.isFile())) {
    throw Object.assign(new Error('the archive is not a file'), { status: 400 });
  }
  if (version && !VERSION.test(version)) throw Object.assign(new Error('bad version'), { status: 400 });
  await Parse.Config.save({ latestVersion_OSX: version || seededVersion });
  current.archive = archive;
  current.version = version;
}

// The archive served as the update: read anew at each download, so a rebuilt one is served.
function archive() {
  return current.archive ? fs.readFileSync(current.archive) : badArchive;
}

module.exports = { offer, archive, badArchive, current };
