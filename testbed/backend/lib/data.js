'use strict';
// Seed data of the testbed: accounts, locations and the remote configuration.

const accounts = [
  // The demo account; the README's run command signs in with it.
  { username: 'demo@havenway.test', password: 'demo123456', favourites: ['NL', 'JP'] },
  // For tests that change account data (favourites, reports).
  { username: 'tester@havenway.test', password: 'test654321', favourites: [] },
];

// flag_px / flag_py: where the flag's centre sits on the map, as fractions of its size.
const locations = [
  { code: 'NL', name: 'Netherlands', dnsPrefix: 'nl1', flag: [['#ae1c28', '#ffffff', '#21468b'], false],
    px: 0.512, py: 0.262, recommended: true, regions: ['EU'], timeZones: ['Europe/Amsterdam'], sortOrder: 1 },
  { code: 'DE', name: 'Germany', dnsPrefix: 'de1', flag: [['#000000', '#dd0000', '#ffce00'], false],
    px: 0.527, py: 0.268, recommended: true, regions: ['EU'], timeZones: ['Europe/Berlin'], sortOrder: 2 },
  { code: 'GB', name: 'United Kingdom', dnsPrefix: 'uk1', flag: [['#012169', '#ffffff', '#c8102e'], false],
    px: 0.494, py: 0.252, recommended: false, regions: ['EU'], timeZones: ['Europe/London'], sortOrder: 3 },
  { code: 'US', name: 'United States', dnsPrefix: 'us1', flag: [['#b22234', '#ffffff', '#3c3b6e'], false],
    px: 0.236, py: 0.330, recommended: true, regions: ['NA'], timeZones: ['America/New_York', 'America/Chicago', 'America/Los_Angeles'], sortOrder: 4 },
  { code: 'CA', name: 'Canada', dnsPrefix: 'ca1', flag: [['#d80621', '#ffffff', '#d80621'], true],
    px: 0.228, py: 0.240, recommended: false, regions: ['NA'], timeZones: ['America/Toronto', 'America/Vancouver'], sortOrder: 5 },
  { code: 'JP', name: 'Japan', dnsPrefix: 'jp1', flag: [['#ffffff', '#bc002d', '#ffffff'], false],
    px: 0.878, py: 0.338, recommended: false, regions: ['AS'], timeZones: ['Asia/Tokyo'], sortOrder: 6 },
];

// vpn: the testbed's VPN servers (their CA and tls-crypt key), when they run.
function ovpnConfig(dnsPrefix, suffix, vpn) {
  const inline = (tag, text) => [`<${tag}>`, text.trim(), `</${tag}>`];
  return [
    'client',
    'dev tun',
    'proto udp',
    `remote ${dnsPrefix}.${suffix} 1194`,
    'resolv-retry infinite',
    'nobind',
    'persist-key',
    'persist-tun',
    'auth-user-pass',
    'cipher AES-256-GCM',
    'verb 3',
    ...(vpn ? ['remote-cert-tls server', ...inline('ca', vpn.ca), ...inline('tls-crypt', vpn.tlsCrypt)] : []),
    '',
  ].join('\n');
}

function remoteConfig({ webHost, backendHost, vpnConfigUpdatedAt, vpn }) {
  const web = `https://${webHost}`;
  // The account pages are the web API's; with the VPN servers "mainDomainName" names
  // their servers' domain instead, so the links name the web API themselves.
  const site = vpn ? web : 'https://{$domainname}';
  return {
    publicIPInfoUrl: `${web}/api/ipinfo`,
    vpnConfigUpdatedAt,
    // With the VPN servers, a name their resolver serves: the servers' hosts are built on it.
    mainDomainName: vpn ? vpn.mainDomain : webHost,
    mirrorDomainName: webHost,
    mirrorDomainCountries: ['CN', 'IR'],
    // A JSON text, read as a dictionary: {"list": [{"countries": [...], "domain": "..."}]}
    domainForCountriesList: JSON.stringify({ list: [{ countries: ['CN', 'IR'], domain: webHost }] }),
    vpnServersDomainSuffix: 'vpn.havenway.test',
    reachabilityDomainName: backendHost,
    probeURL: `${web}/probe`,
    latestVersion_OSX: '1.0.0',
    latestVersionDownloadLink: `${web}/downloads/havenway-update.zip`,
    appAutoUpdateDownloadURL: `${web}/downloads/havenway-update.zip`,
    appAutoUpdateDownloadURL_debug: `${web}/downloads/havenway-update-critical.zip`,
    useAutoUpdater: true,
    // The testbed's name server answers for the VPN servers' names.
    DNSResolver: vpn ? vpn.resolver : '8.8.4.4',
    DNSResolverSecondary: vpn ? vpn.resolver : '8.8.8.8',
    authorizeForFreeTrialLink: `${web}/api/freeTrial/authorizeForFreeTrial.php`,
    authorizeForFreeTrialLink_v2: `${web}/api/freeTrial/authorizeForFreeTrial_v2.php`,
    rejectInAppFreeTrialSignUp: false,
    linkFreeTrialSignup: `${site}/signup`,
    knowledgebaseLink: `${site}/knowledgebase`,
    linkTermsOfUse: `${site}/legal/terms`,
    supportTicketLink: `${site}/api/autoclientarealogin.php?goto=submitticket&{$token}`,
    speedTestLink: `${web}/speedtest`,
    myAccountLink: `${site}/api/autoclientarealogin.php?goto=clientarea&{$token}`,
    inviteFriendsLink: `${site}/api/autoclientarealogin.php?goto=invite&{$token}`,
    viewInvoicesLink: `${site}/api/autoclientarealogin.php?goto=invoices&{$token}`,
    smartWidgetURL: `${web}/api/smart-widget`,
    smartWidgetCheckIntervalMin: 30,
    analyticsTrackerURL: `${web}/api/app-analytics.php`,
    sendAnalyticsData: true,
  };
}

module.exports = { accounts, locations, ovpnConfig, remoteConfig };
