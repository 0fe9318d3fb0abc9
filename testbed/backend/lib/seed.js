'use strict';
// Classes, access rights and seed objects of a fresh testbed database.
const images = require('./images');
const { accounts, locations, ovpnConfig, remoteConfig } = require('./data');

const NONE = {};
const SIGNED_IN = { requiresAuthentication: true };
const ANYONE = { '*': true };

const schemas = {
  VPNConfig: {
    fields: {
      name: 'String', countryCode: 'String', dnsPrefix: 'String', l2tpSharedKey: 'String',
      ovpnConfigWithDNSName: 'String', protocols: 'Array', flag: 'File', main_view_flag: 'File',
      flag_px: 'Number', flag_py: 'Number', isRecommended: 'Boolean', recommendedRegions: 'Array',
      timeZones: 'Array', sortOrder: 'Number',
    },
    clp: { find: SIGNED_IN, get: SIGNED_IN, count: SIGNED_IN, create: NONE, update: NONE, delete: NONE, addField: NONE },
    // The client pages the list in this order; without the index every page
    // sorts the whole table first.
    indexes: { listOrder: { sortOrder: 1, objectId: 1 } },
  },
  FavoriteVPNConfig: {
    fields: { user: ['Pointer', '_User'], config: ['Pointer', 'VPNConfig'] },
    clp: { find: SIGNED_IN, get: SIGNED_IN, count: SIGNED_IN, create: SIGNED_IN, update: SIGNED_IN, delete: SIGNED_IN, addField: NONE },
  },
  ErrorLogReport: {
    fields: { user: ['Pointer', '_User'], platform: 'String', errorMessage: 'String', log: 'File' },
    clp: { find: NONE, get: NONE, count: NONE, create: ANYONE, update: NONE, delete: NONE, addField: ANYONE },
  },
  AppException: {
    fields: { user: ['Pointer', '_User'], platform: 'String', appVersion: 'String', exceptionType: 'String', callStack: 'String' },
    clp: { find: NONE, get: NONE, count: NONE, create: ANYONE, update: NONE, delete: NONE, addField: ANYONE },
  },
  NotificationData: {
    fields: {
      toptextbold: 'String', toplink: 'String', toptext: 'String', style: 'String',
      bottomtextbold: 'String', bottomlink: 'String', bottomtext: 'String', bottomicon: 'File',
    },
    clp: { find: NONE, get: NONE, count: NONE, create: NONE, update: NONE, delete: NONE, addField: NONE },
  },
};

async function createSchemas(Parse) {
  for (const [name, { fields, clp, indexes = {} }] of Object.entries(schemas)) {
    const schema = new Parse.Schema(name);
    for (const [field, type] of Object.entries(fields)) {
      if (Array.isArray(type)) schema.addPointer(field, type[1]);
      else schema.addField(field, type);
    }
    for (const [index, keys] of Object.entries(indexes)) schema.addIndex(index, keys);
    schema.setCLP(clp);
    await schema.save();
  }
}

async function file(Parse, name, data, type = 'image/png') {
  const f = new Parse.File(name, { base64: data.toString('base64') }, type);
  await f.save({ useMasterKey: true });
  return f;
}

// Where no VPN servers run, no protocol really works; the full list is kept for the windows.
const ALL_PROTOCOLS = ['ikev2', 'openvpn', 'l2tp', 'pptp'];
const TESTBED_PROTOCOLS = ['ikev2', 'openvpn'];

async function seed(Parse, { webHost, backendHost, vpn }) {
  await createSchemas(Parse);
  const master = { useMasterKey: true };

  const configs = {};
  for (const l of locations) {
    const c = new Parse.Object('VPNConfig');
    c.set({
      name: l.name,
      countryCode: l.code,
      dnsPrefix: l.dnsPrefix,
      l2tpSharedKey: 'havenway-testbed-psk',
      ovpnConfigWithDNSName: ovpnConfig(l.dnsPrefix, 'vpn.havenway.test', vpn),
      protocols: vpn ? TESTBED_PROTOCOLS : ALL_PROTOCOLS,
      flag: await file(Parse, `flag_${l.code}.png`, images.countryFlag(l.code, l.flag)),
      main_view_flag: await file(Parse, `map_flag_${l.code}.png`, images.countryFlag(l.code, l.flag, 48, 32)),
      flag_px: l.px,
      flag_py: l.py,
      isRecommended: l.recommended,
      recommendedRegions: l.regions,
      timeZones: l.timeZones,
      sortOrder: l.sortOrder,
    });
    const acl = new Parse.ACL();
    acl.setPublicReadAccess(true);
    c.setACL(acl);
    await c.save(null, master);
    configs[l.code] = c;
  }

  for (const a of accounts) {
    const u = new Parse.User();
    u.set({ username: a.username, email: a.username, password: a.password });
    await u.signUp(null, master);
    for (const code of a.favourites) {
      const fav = new Parse.Object('FavoriteVPNConfig');
      fav.set({ user: u, config: configs[code] });
      fav.setACL(new Parse.ACL(u));
      await fav.save(null, master);
    }
  }

  const notice = new Parse.Object('NotificationData');
  notice.set({
    toptextbold: 'Testbed notice',
    toplink: 'https://{$domainname}/knowledgebase',
    toptext: 'Testbed notice: this backend runs on your machine. Read the guide',
    style: 'tip',
    bottomtextbold: 'Invite friends',
    bottomlink: 'https://{$domainname}/api/autoclientarealogin.php?goto=invite&{$token}',
    bottomtext: 'Invite friends and get a free month',
    bottomicon: await file(Parse, 'bottom_icon.png', images.countryFlag('INVITE', [['#1d71cc'], false], 32, 32)),
  });
  notice.setACL(new Parse.ACL());
  await notice.save(null, master);

  const config = remoteConfig({ webHost, backendHost, vpn, vpnConfigUpdatedAt: new Date('2026-11-01T00:00:00Z') });
  config.mainViewMap = await file(Parse, 'main_view_map.png', images.map());
  // The same land, dark: the map behind a live connection.
  config.mainViewMapDark = await file(Parse, 'main_view_map_dark.png', images.map(undefined, undefined, true));
  await Parse.Config.save(config);
}

module.exports = { seed };
