using System;
using System.Collections.Generic;
using System.Globalization;
using System.Security.Claims;
using System.Text.Encodings.Web;
using System.Threading.Tasks;
using Microsoft.AspNetCore.Authentication;
using Microsoft.AspNetCore.Http;
using Microsoft.Extensions.DependencyInjection;
using Microsoft.Extensions.Logging;
using Microsoft.Extensions.Options;
using Microsoft.Net.Http.Headers;

namespace Keldo.Crypto.AspNetCore
{
    /// <summary>Authenticates requests that carry a keldo-crypto token as
    /// <c>Authorization: Bearer TOKEN</c> (RFC 6750), verified by the library
    /// under the configured <see cref="KeyRing"/>. A request without such a
    /// header is not authenticated (no result), so other schemes may try it;
    /// a refused token fails, and its challenge is 401 with
    /// <c>WWW-Authenticate: Bearer error="invalid_token", error_description="…"</c>
    /// naming the kind of refusal.</summary>
    public sealed class KeldoJwtHandler : AuthenticationHandler<KeldoJwtOptions>
    {
        /// <summary>The handler, as the authentication middleware makes it.</summary>
        public KeldoJwtHandler(IOptionsMonitor<KeldoJwtOptions> options, ILoggerFactory logger, UrlEncoder encoder)
            : base(options, logger, encoder)
        {
        }

        /// <inheritdoc/>
        protected override Task<AuthenticateResult> HandleAuthenticateAsync()
        {
            string? header = Request.Headers.Authorization;
            if (string.IsNullOrEmpty(header) || !header!.StartsWith("Bearer ", StringComparison.OrdinalIgnoreCase))
                return Task.FromResult(AuthenticateResult.NoResult());
            string token = header.Substring("Bearer ".Length).Trim();
            if (token.Length == 0) return Task.FromResult(AuthenticateResult.NoResult());

            KeyRing ring = Options.KeyRing ?? Context.RequestServices.GetService<KeyRing>() ??
                throw new InvalidOperationException("AddKeldoJwt: no key ring: set KeldoJwtOptions.KeyRing or register a KeyRing service");
            KeldoClaims claims;
            try
            {
                claims = KeldoJwt.Verify(token, ring);
            }
            catch (TokenException e)
            {
                Logger.LogInformation("Bearer token refused: {Reason}", e.Message);
                return Task.FromResult(AuthenticateResult.Fail(e));
            }

            string issuer = ClaimsIssuer;
            string subType = Options.MapInboundClaims ? ClaimTypes.NameIdentifier : "sub";
            string emailType = Options.MapInboundClaims ? ClaimTypes.Email : "email";
            var identity = new ClaimsIdentity(new List<Claim> {
                new Claim(subType, claims.Sub, ClaimValueTypes.String, issuer),
                new Claim(emailType, claims.Email, ClaimValueTypes.String, issuer),
                new Claim("exp", claims.Exp.ToString(CultureInfo.InvariantCulture), ClaimValueTypes.Integer64, issuer),
            }, Scheme.Name, Options.NameClaimType ?? subType, ClaimTypes.Role);
            var properties = new AuthenticationProperties { ExpiresUtc = claims.ExpiresAt };
            properties.Items[KeldoJwtDefaults.KeyPositionItem] = claims.Key.ToString(CultureInfo.InvariantCulture);
            return Task.FromResult(AuthenticateResult.Success(new AuthenticationTicket(new ClaimsPrincipal(identity), properties, Scheme.Name)));
        }

        /// <inheritdoc/>
        protected override async Task HandleChallengeAsync(AuthenticationProperties properties)
        {
            AuthenticateResult result = await HandleAuthenticateOnceSafeAsync();
            Response.StatusCode = 401;
            string challenge = "Bearer";
            if (result.Failure is TokenException refused)
            {
                challenge += " error=\"invalid_token\"";
                if (Options.IncludeErrorDetails) challenge += ", error_description=\"" + Description(refused) + "\"";
            }
            Response.Headers.Append(HeaderNames.WWWAuthenticate, challenge);
        }

        // RFC 6750 allows printable ASCII but '"' and '\' in a description;
        // the library's texts have neither.
        static string Description(TokenException e) => e switch {
            TokenExpiredException => "The token has expired",
            TokenNotYetValidException => "The token is not valid yet",
            BadSignatureException => "The signature is invalid",
            MalformedTokenException => "The token is malformed",
            InvalidClaimsException => "The token's claims are invalid (" + e.Message.Replace("jwt_verify: ", "") + ")",
            _ => "The token is refused",
        };
    }
}
