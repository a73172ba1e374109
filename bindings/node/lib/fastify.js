'use strict';
// keldo-crypto/fastify: a Fastify 5 plugin. It decorates the instance with
// authenticate(request, reply), a hook for the routes to protect
// ({ onRequest: app.authenticate }), and the request with auth: the claims
// ({ sub, email, exp, key }) once authenticated, null otherwise. A refusal
// is an AuthenticationError with statusCode and headers, which Fastify's
// default error handler sends as they are.
//
//   await app.register(fastifyAuth, { keys: [current, previous] });
//   app.get('/api/me', { onRequest: app.authenticate }, (req) => req.auth);
const { AuthenticationError, authenticator } = require('./bearer');

// options: those of expressAuth, plus decorator (the instance decorator's
// name, 'authenticate' by default) and hook ('onRequest' or 'preHandler':
// authenticate every route of the registering scope).
function fastifyAuth(fastify, options, done) {
  const name = options.decorator === undefined ? 'authenticate' : options.decorator;
  const hook = options.hook;
  let authenticate;
  try {
    if (typeof name !== 'string' || name === '') throw new TypeError('fastifyAuth: decorator must be a name');
    if (hook !== undefined && hook !== 'onRequest' && hook !== 'preHandler') {
      throw new TypeError("fastifyAuth: hook must be 'onRequest' or 'preHandler'");
    }
    authenticate = authenticator(options, 'fastifyAuth');
  } catch (e) {
    done(e);
    return;
  }
  // Registered twice in a scope (a required and an optional decorator), the
  // request property is declared once.
  if (!fastify.hasRequestDecorator('auth')) fastify.decorateRequest('auth', null);
  // A hook in Fastify's callback style (no promise to allocate); called
  // without a callback, it throws the refusal and returns the claims.
  function keldoAuthenticate(request, reply, next) {
    request.auth = null;
    let claims;
    try {
      claims = authenticate(request);
    } catch (e) {
      if (typeof next !== 'function') throw e;
      next(e);
      return undefined;
    }
    request.auth = claims;
    if (typeof next !== 'function') return claims;
    next();
    return undefined;
  }
  fastify.decorate(name, keldoAuthenticate);
  if (hook !== undefined) fastify.addHook(hook, keldoAuthenticate);
  fastify.addHook('onClose', (instance, close) => {
    authenticate.dispose();
    close();
  });
  done();
}

// What fastify-plugin would set: the decorators belong to the scope that
// registers the plugin, not to a child scope of its own.
fastifyAuth[Symbol.for('skip-override')] = true;
fastifyAuth[Symbol.for('fastify.display-name')] = 'keldo-crypto';
fastifyAuth[Symbol.for('plugin-meta')] = { name: 'keldo-crypto', fastify: '5.x' };

module.exports = fastifyAuth;
module.exports.default = fastifyAuth;
module.exports.fastifyAuth = fastifyAuth;
module.exports.AuthenticationError = AuthenticationError;
