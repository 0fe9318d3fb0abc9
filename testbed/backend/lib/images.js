'use strict';
// Small PNG and ZIP writers, so the seed data needs no binary files in the repository.
const zlib = require('zlib');

function crc32(buf) {
  return zlib.crc32(buf) >>> 0;
}

function chunk(type, data) {
  const len = Buffer.alloc(4);
  len.writeUInt32BE(data.length);
  const typeAndData = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(typeAndData));
  return Buffer.concat([len, typeAndData, crc]);
}

// pixel(x, y) -> [r, g, b]
function png(width, height, pixel) {
  const raw = Buffer.alloc((width * 3 + 1) * height);
  let o = 0;
  for (let y = 0; y < height; y++) {
    raw[o++] = 0;
    for (let x = 0; x < width; x++) {
      const [r, g, b] = pixel(x, y);
      raw[o++] = r;
      raw[o++] = g;
      raw[o++] = b;
    }
  }
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8; // bit depth
  ihdr[9] = 2; // truecolour
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', ihdr),
    chunk('IDAT', zlib.deflateSync(raw)),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

function hex(c) {
  return [1, 3, 5].map((i) => parseInt(c.slice(i, i + 2), 16));
}

// Flags as horizontal or vertical stripes of the given colours.
function flag(colours, vertical, width = 32, height = 22) {
  const cs = colours.map(hex);
  return png(width, height, (x, y) => {
    const pos = vertical ? x / width : y / height;
    return cs[Math.min(cs.length - 1, Math.floor(pos * cs.length))];
  });
}

// The demo countries' flags, drawn from their shapes; (u, v) run from 0 to 1
// across and down. Each pixel averages 4x4 samples, so discs and diagonals
// stay recognisable at 32 px.
const RED = [200, 16, 46];
const WHITE = [255, 255, 255];
const SHAPES = {
  NL: (u, v) => hex(['#ae1c28', '#ffffff', '#21468b'][Math.min(2, Math.floor(v * 3))]),
  DE: (u, v) => hex(['#000000', '#dd0000', '#ffce00'][Math.min(2, Math.floor(v * 3))]),
  JP: (u, v) => {
    const dx = (u - 0.5) * 1.5;
    const dy = v - 0.5;
    return dx * dx + dy * dy < 0.3 * 0.3 ? hex('#bc002d') : WHITE;
  },
  CA: (u, v) => {
    if (u < 0.25 || u >= 0.75) return hex('#d80621');
    // The leaf: a pointed star on a stem, in the white square.
    const x = (u - 0.5) * 4;
    const y = (v - 0.48) * 2;
    const r = Math.hypot(x, y);
    const a = Math.atan2(y, x);
    const edge = 0.55 + 0.2 * Math.cos(5 * (a + Math.PI / 2));
    const stem = Math.abs(x) < 0.05 && y > 0.2 && y < 0.75;
    return r < edge || stem ? hex('#d80621') : WHITE;
  },
  US: (u, v) => {
    if (u < 0.4 && v < 7 / 13) {
      const sx = (u / 0.4) * 6;
      const sy = (v / (7 / 13)) * 5;
      const star = Math.hypot(sx - Math.floor(sx) - 0.5, sy - Math.floor(sy) - 0.5) < 0.2;
      return star ? WHITE : hex('#3c3b6e');
    }
    return Math.floor(v * 13) % 2 === 0 ? hex('#b22234') : WHITE;
  },
  GB: (u, v) => {
    const x = u - 0.5;
    const y = (v - 0.5) * 0.5;
    if (Math.abs(x) < 0.05 || Math.abs(y) < 0.05 * 0.5 * 2) return RED;
    if (Math.abs(x) < 0.09 || Math.abs(y) < 0.085) return WHITE;
    const d1 = Math.abs(x - y * 2) / Math.SQRT2;
    const d2 = Math.abs(x + y * 2) / Math.SQRT2;
    if (Math.min(d1, d2) < 0.025) return RED;
    if (Math.min(d1, d2) < 0.07) return WHITE;
    return hex('#012169');
  },
};

// The invitation's icon at the foot of the window: a white plus on a blue disc.
SHAPES.INVITE = (u, v) => {
  const x = u - 0.5;
  const y = v - 0.5;
  if (Math.hypot(x, y) > 0.48) return hex('#efefef'); // the bar's own grey
  const bar = (a, b) => Math.abs(a) < 0.07 && Math.abs(b) < 0.26;
  return bar(x, y) || bar(y, x) ? WHITE : hex('#1d71cc');
};

function countryFlag(code, fallback, width = 32, height = 22) {
  const shape = SHAPES[code];
  if (!shape) return flag(...fallback, width, height);
  const n = 4;
  return png(width, height, (x, y) => {
    const sum = [0, 0, 0];
    for (let i = 0; i < n; i++) {
      for (let j = 0; j < n; j++) {
        const c = shape((x + (i + 0.5) / n) / width, (y + (j + 0.5) / n) / height);
        for (let k = 0; k < 3; k++) sum[k] += c[k];
      }
    }
    return sum.map((s) => Math.round(s / (n * n)));
  });
}

// A plain world-map stand-in: sea with a few land bands. The application draws
// the map scaled to fit its area, aspect kept; drawn at that area's shape
// (520 x 512) it fills the area with no empty band above and below.
function map(width = 520, height = 512, dark = false) {
  return png(width, height, (x, y) => {
    const land = Math.sin(x / 37) + Math.cos(y / 23) > 0.9;
    if (dark) return land ? [62, 70, 66] : [30, 33, 38];
    return land ? [200, 214, 190] : [226, 236, 246];
  });
}

// A stored (uncompressed) ZIP archive of {name: Buffer}.
function zip(files) {
  const locals = [];
  const centrals = [];
  let offset = 0;
  for (const [name, data] of Object.entries(files)) {
    const n = Buffer.from(name, 'utf8');
    const crc = crc32(data);
    const local = Buffer.alloc(30);
    local.writeUInt32LE(0x04034b50, 0);
    local.writeUInt16LE(20, 4);
    local.writeUInt32LE(crc, 14);
    local.writeUInt32LE(data.length, 18);
    local.writeUInt32LE(data.length, 22);
    local.writeUInt16LE(n.length, 26);
    const central = Buffer.alloc(46);
    central.writeUInt32LE(0x02014b50, 0);
    central.writeUInt16LE(20, 4);
    central.writeUInt16LE(20, 6);
    central.writeUInt32LE(crc, 16);
    central.writeUInt32LE(data.length, 20);
    central.writeUInt32LE(data.length, 24);
    central.writeUInt16LE(n.length, 28);
    central.writeUInt32LE(offset, 42);
    locals.push(local, n, data);
    centrals.push(central, n);
    offset += local.length + n.length + data.length;
  }
  const cd = Buffer.concat(centrals);
  const end = Buffer.alloc(22);
  end.writeUInt32LE(0x06054b50, 0);
  end.writeUInt16LE(Object.keys(files).length, 8);
  end.writeUInt16LE(Object.keys(files).length, 10);
  end.writeUInt32LE(cd.length, 12);
  end.writeUInt32LE(offset, 16);
  return Buffer.concat([...locals, cd, end]);
}

module.exports = { png, flag, countryFlag, map, zip };
