'use strict';
// node:crypto in the browser bundle: index.js only asks whether a secret is
// a Node.js KeyObject, which nothing outside Node.js is.
class KeyObject {}
module.exports = { KeyObject };
