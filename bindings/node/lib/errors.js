'use strict';
// One class per kind of refusal, each with a stable `code`; all of them
// KeldoError. A refusal by the library carries the library's fixed text for
// its status as the message.

class KeldoError extends Error {
  constructor(message, code = 'ERR_KELDO_FAILED') {
    super(message);
    this.name = new.target.name;
    this.code = code;
  }
}

class InvalidArgumentError extends KeldoError {
  constructor(message, code = 'ERR_KELDO_INVALID_ARGUMENT') { super(message, code); }
}

// A stored password hash that is no usable hash: a broken user table, not a
// wrong password.
class MalformedHashError extends InvalidArgumentError {
  constructor(message) { super(message, 'ERR_KELDO_MALFORMED_HASH'); }
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

// The shared library could not be found or loaded.
class LibraryNotFoundError extends KeldoError {
  constructor(message) { super(message, 'ERR_KELDO_LIBRARY_NOT_FOUND'); }
}

// The library's status kinds: -status / 100, as its header numbers them.
const KIND_INVALID_ARGUMENT = 1;
const KIND_MALFORMED = 3;
const KIND_MISMATCH = 8;
const BY_KIND = {
  1: InvalidArgumentError,
  3: MalformedTokenError,
  4: BadSignatureError,
  5: TokenExpiredError,
  6: TokenNotYetValidError,
  7: InvalidClaimsError,
  9: MalformedHashError,
};
// "invalid signature format or length" is malformed to the library, but only
// the signature is wrong: a bad signature, as in the other bindings.
const SIGNATURE_FORMAT = -304;

function statusKind(status) {
  return status < 0 ? Math.trunc(-status / 100) : 0;
}

// The error for a negative status and its text. An unknown kind (buffer too
// small, internal failure, a newer library's kind) is still a refusal.
function statusError(status, message) {
  if (status === SIGNATURE_FORMAT) return new BadSignatureError(message);
  const Class = BY_KIND[statusKind(status)] || LibraryError;
  return new Class(message);
}

module.exports = {
  KeldoError, InvalidArgumentError, MalformedHashError, TokenError, MalformedTokenError,
  BadSignatureError, TokenExpiredError, TokenNotYetValidError, InvalidClaimsError, LibraryError,
  LibraryNotFoundError,
  statusError, statusKind, KIND_INVALID_ARGUMENT, KIND_MALFORMED, KIND_MISMATCH,
};
