'use strict';
// keldo-crypto/express: a middleware for Express 4 and 5 that puts the
// claims of a bearer token on req.auth ({ sub, email, exp, key }) and hands
// a refusal to next() as an AuthenticationError carrying its status and
// WWW-Authenticate header, which Express's default error handler sends as
// they are; an application's own handler can format the body.
//
//   app.use('/api', expressAuth({ keys: [current, previous] }));
const { AuthenticationError, authenticator } = require('./bearer');

// options: keys (required), optional (claims or none, never a refusal),
// realm (for the challenge), getToken(req) (the token from elsewhere, in
// place of the Authorization header: an explicit opt-in), allowShortSecret.
function expressAuth(options) {
  const authenticate = authenticator(options, 'expressAuth');
  return function keldoAuth(req, res, next) {
    // Whatever an earlier middleware left there is not this request's claims.
    if (req.auth !== undefined) req.auth = undefined;
    let claims;
    try {
      claims = authenticate(req);
    } catch (e) {
      next(e);
      return;
    }
    if (claims !== null) req.auth = claims;
    next();
  };
}

module.exports = { expressAuth, AuthenticationError };
