'use strict';
// What the Express and Fastify components share: finding the bearer token
// in a request (RFC 6750 section 2.1), the error a refusal becomes (its
// status and WWW-Authenticate challenge, RFC 6750 section 3) and the
// verifier built from the configured keys. Every token rule is the
// library's: this file reads HTTP headers and never looks inside a token.
const keldo = require('../index');
const {
  KeldoError, InvalidArgumentError, MalformedTokenError, BadSignatureError, TokenExpiredError,
  TokenNotYetValidError, InvalidClaimsError, TokenError,
} = require('./errors');

// RFC 6750's b64token: the one token after "Bearer" and one or more spaces.
const B64TOKEN = /^[A-Za-z0-9\-._~+/]+=*$/;
// What may stand inside a quoted-string of the challenge (RFC 6750 section 3).
const QUOTABLE = /^[\x20\x21\x23-\x5b\x5d-\x7e]*$/;

// The error description names the kind of refusal, and only that: never
// the token, nor the library's text (a client needs the kind, to know
// whether refreshing can help).
const DESCRIPTIONS = [
  [TokenExpiredError, 'the token has expired'],
  [TokenNotYetValidError, 'the token is not valid yet'],
  [BadSignatureError, 'bad signature'],
  [MalformedTokenError, 'malformed token'],
  [InvalidClaimsError, 'invalid claims'],
];

// A refused request. `status` and `statusCode` for Express's and Fastify's
// error handlers, `headers` for the challenge (both frameworks' default
// handlers send it), `bearerError` for RFC 6750's error code
// ('invalid_token', 'invalid_request', or undefined when no credentials came).
class AuthenticationError extends KeldoError {
  constructor(message, code, status, challenge, bearerError, cause) {
    super(message, code);
    this.status = status;
    this.statusCode = status;
    this.expose = true;  // http-errors' flag: the message is safe to show
    this.headers = { 'WWW-Authenticate': challenge };
    this.bearerError = bearerError;
    if (cause !== undefined) this.cause = cause;
  }
}

function quoted(name, value) {
  return `${name}="${value}"`;
}

function challenge(realm, error, description) {
  const params = [];
  if (realm !== undefined) params.push(quoted('realm', realm));
  if (error !== undefined) params.push(quoted('error', error), quoted('error_description', description));
  return params.length === 0 ? 'Bearer' : `Bearer ${params.join(', ')}`;
}

// The number of Authorization fields: Node.js keeps only the first one in
// req.headers, so two are counted in the raw list.
function authorizationFields(rawHeaders) {
  let n = 0;
  if (rawHeaders === undefined || rawHeaders === null) return n;
  for (let i = 0; i < rawHeaders.length; i += 2) {
    const name = rawHeaders[i];
    if (name.length === 13 && name.toLowerCase() === 'authorization') n++;
  }
  return n;
}

// 'Bearer' in any case, one or more spaces, one b64token, nothing else.
// Returns the token, null when there is no bearer credential (no header,
// an empty one, or another scheme), or false when the header is malformed.
function bearerToken(value) {
  if (value === undefined || value === null || value === '') return null;
  if (typeof value !== 'string') return false;
  if (value.length < 6 || value.slice(0, 6).toLowerCase() !== 'bearer') return null;
  if (value.length === 6) return false;          // the scheme alone
  if (value.charCodeAt(6) !== 32) return value.charCodeAt(6) === 9 ? false : null;  // "Bearerx": another scheme
  let i = 7;
  while (i < value.length && value.charCodeAt(i) === 32) i++;
  const token = value.slice(i);
  return B64TOKEN.test(token) ? token : false;
}

function textOption(options, name, fn) {
  const v = options[name];
  if (v === undefined) return undefined;
  if (typeof v !== 'string' || !QUOTABLE.test(v)) {
    throw new InvalidArgumentError(`${fn}: ${name} must be text without quotes, backslashes or control characters`);
  }
  return v;
}

// A verify function from `keys`: a TokenKey or KeyRing as given, one secret
// as a TokenKey, an array of secrets or TokenKeys as a KeyRing (current key
// first). Prepared here, once: the secrets are checked when the component
// is made (a configuration error stops the application at start), and no
// request pays for the HMAC key set-up. dispose() wipes what was made here.
function verifier(keys, options, fn) {
  if (keys === undefined || keys === null) throw new InvalidArgumentError(`${fn}: keys is required`);
  const secretOptions = options.allowShortSecret === true ? { allowShortSecret: true } : undefined;
  let key = keys;
  let owned = null;
  if (Array.isArray(keys)) {
    if (keys.length === 0) throw new InvalidArgumentError(`${fn}: keys is empty`);
    owned = new keldo.KeyRing(keys, secretOptions);
    key = owned;
  } else if (!(keys instanceof keldo.TokenKey) && !(keys instanceof keldo.KeyRing)) {
    owned = new keldo.TokenKey(keys, secretOptions);
    key = owned;
  }
  return {
    verify: (token) => keldo.jwtVerify(token, key),
    dispose: () => { if (owned !== null) owned.dispose(); },
  };
}

// The authentication step for both frameworks. authenticate(req) returns
// the claims, null (optional mode, or a public request), or throws an
// AuthenticationError; any other error is a fault and is thrown as it is.
function authenticator(options, fn) {
  if (options === null || typeof options !== 'object') throw new InvalidArgumentError(`${fn}: options must be an object`);
  const realm = textOption(options, 'realm', fn);
  const optional = options.optional === true;
  const getToken = options.getToken;
  if (getToken !== undefined && typeof getToken !== 'function') {
    throw new InvalidArgumentError(`${fn}: getToken must be a function`);
  }
  const { verify, dispose } = verifier(options.keys, options, fn);
  const missing = () => new AuthenticationError('no bearer token in the request', 'ERR_KELDO_CREDENTIALS_REQUIRED',
    401, challenge(realm), undefined);
  const badRequest = (description) => new AuthenticationError(description, 'ERR_KELDO_INVALID_REQUEST', 400,
    challenge(realm, 'invalid_request', description), 'invalid_request');

  function authenticate(req) {
    let token;
    if (getToken !== undefined) {
      token = getToken(req);
      if (token === undefined || token === null || token === '') {
        if (optional) return null;
        throw missing();
      }
      if (typeof token !== 'string') throw new InvalidArgumentError(`${fn}: getToken must return a string or nothing`);
    } else {
      const header = req.headers.authorization;
      token = bearerToken(header);
      // Fastify's request holds the Node.js request as raw; Express's is one.
      if (header !== undefined && authorizationFields((req.raw || req).rawHeaders) > 1) token = false;
      if (token === null) {
        if (optional) return null;
        throw missing();
      }
      if (token === false) {
        if (optional) return null;
        throw badRequest('the Authorization header must hold one bearer token');
      }
    }
    try {
      return verify(token);
    } catch (e) {
      if (!(e instanceof TokenError)) throw e;
      if (optional) return null;
      const found = DESCRIPTIONS.find(([Class]) => e instanceof Class);
      const description = found === undefined ? 'invalid token' : found[1];
      throw new AuthenticationError(`bearer token refused: ${description}`, e.code, 401,
        challenge(realm, 'invalid_token', description), 'invalid_token', e);
    }
  }
  authenticate.dispose = dispose;
  return authenticate;
}

module.exports = { AuthenticationError, authenticator };
