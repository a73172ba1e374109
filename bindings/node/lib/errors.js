'use strict';
// One class per kind of refusal, each with a stable `code`. A refusal by the
// library keeps the library's message as the error's message.

class KeldoError extends Error {
  constructor(message, code) {
    super(message);
    this.name = new.target.name;
    this.code = code;
  }
}

class InvalidArgumentError extends KeldoError {
  constructor(message) { super(message, 'ERR_KELDO_INVALID_ARGUMENT'); }
}

// Every reason a token is refused.
class TokenError extends KeldoError {}

class MalformedTokenError extends TokenError {
  constructor(message) { super(message, 'ERR_KELDO_MALFORMED'); }
}
class BadSignatureError extends TokenError {
  constructor(message) { super(message, 'ERR_KELDO_BAD_SIGNATURE'); }
}
class TokenExpiredError extends TokenError {
  constructor(message) { super(message, 'ERR_KELDO_EXPIRED'); }
}
class TokenNotYetValidError extends TokenError {
  constructor(message) { super(message, 'ERR_KELDO_NOT_YET_VALID'); }
}
class InvalidClaimsError extends TokenError {
  constructor(message) { super(message, 'ERR_KELDO_INVALID_CLAIMS'); }
}

// A failure that is not a refusal of the input (an allocation or the
// operating system's random source failed inside the library).
class LibraryError extends KeldoError {
  constructor(message) { super(message, 'ERR_KELDO_FAILED'); }
}

// keldo_jwt_verify's messages, by the text after "jwt_verify: ".
const VERIFY_REFUSALS = [
  ['malformed token', MalformedTokenError],
  ['payload segment too long', MalformedTokenError],
  ['base64url decode payload failed', MalformedTokenError],
  ['invalid payload JSON', MalformedTokenError],
  ['payload root is not an object', MalformedTokenError],
  ['invalid signature format or length', BadSignatureError],
  ['signature verification failed', BadSignatureError],
  ['token has expired', TokenExpiredError],
  ['token is not valid yet', TokenNotYetValidError],
  ["invalid or missing 'iss' claim", InvalidClaimsError],
  ["missing 'exp' claim", InvalidClaimsError],
  ["missing 'sub' claim", InvalidClaimsError],
  ["invalid 'sub' claim", InvalidClaimsError],
  ["missing 'email' claim", InvalidClaimsError],
  ["invalid 'email' claim", InvalidClaimsError],
  ['null secret or token', InvalidArgumentError],
];

function verifyError(message) {
  const reason = message.startsWith('jwt_verify: ') ? message.slice(12) : '';
  for (const [prefix, Class] of VERIFY_REFUSALS) {
    if (reason.startsWith(prefix)) return new Class(message);
  }
  // Never success: an unknown text still refuses the token.
  return new LibraryError(message);
}

module.exports = {
  KeldoError, InvalidArgumentError, TokenError, MalformedTokenError, BadSignatureError,
  TokenExpiredError, TokenNotYetValidError, InvalidClaimsError, LibraryError, verifyError,
};
