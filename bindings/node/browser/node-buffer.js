'use strict';
// node:buffer in the browser bundle: the buffer package's Buffer (a
// Uint8Array with Node.js's methods), which index.js works with.
const { Buffer, kMaxLength } = require('buffer');
module.exports = { Buffer, constants: { MAX_LENGTH: kMaxLength } };
