using System.Security.Claims;
using Microsoft.AspNetCore.Authentication;

namespace Keldo.Crypto.AspNetCore
{
    /// <summary>Names used by the keldo-crypto token handler.</summary>
    public static class KeldoJwtDefaults
    {
        /// <summary>The scheme's default name.</summary>
        public const string AuthenticationScheme = "KeldoJwt";

        /// <summary>The <see cref="AuthenticationProperties.Items"/> key under
        /// which a successful authentication records the position of the
        /// ring key that matched ("0" for the current key).</summary>
        public const string KeyPositionItem = "keldo.key";
    }

    /// <summary>Options of <see cref="KeldoJwtHandler"/>.</summary>
    public sealed class KeldoJwtOptions : AuthenticationSchemeOptions
    {
        /// <summary>The keys tokens are accepted under, current first. When
        /// null, the application's <see cref="Crypto.KeyRing"/> service is
        /// used (register one singleton: it is made once and shared).</summary>
        public KeyRing? KeyRing { get; set; }

        /// <summary>As JwtBearer's option of the same name (and default):
        /// when true, "sub" becomes <see cref="ClaimTypes.NameIdentifier"/>
        /// and "email" <see cref="ClaimTypes.Email"/>; when false the claims
        /// keep the token's names. "exp" keeps its name either way.</summary>
        public bool MapInboundClaims { get; set; } = true;

        /// <summary>Whether a refused token's challenge says why
        /// (error_description), as JwtBearer's IncludeErrorDetails.</summary>
        public bool IncludeErrorDetails { get; set; } = true;

        /// <summary>The claim type of <see cref="ClaimsIdentity.Name"/>;
        /// JwtBearer's default, <see cref="ClaimTypes.Name"/>, names no claim
        /// of these tokens, so the subject is the name unless changed.</summary>
        public string? NameClaimType { get; set; }
    }
}
