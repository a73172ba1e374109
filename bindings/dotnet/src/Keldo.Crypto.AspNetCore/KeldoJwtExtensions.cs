using System;
using Microsoft.AspNetCore.Authentication;

namespace Keldo.Crypto.AspNetCore
{
    /// <summary>Registration of the keldo-crypto token scheme.</summary>
    public static class KeldoJwtExtensions
    {
        /// <summary>Adds the scheme <see cref="KeldoJwtDefaults.AuthenticationScheme"/>,
        /// verifying tokens under the application's <see cref="KeyRing"/> service.</summary>
        public static AuthenticationBuilder AddKeldoJwt(this AuthenticationBuilder builder)
            => builder.AddKeldoJwt(KeldoJwtDefaults.AuthenticationScheme, _ => { });

        /// <summary>Adds the scheme <see cref="KeldoJwtDefaults.AuthenticationScheme"/> with options.</summary>
        public static AuthenticationBuilder AddKeldoJwt(this AuthenticationBuilder builder, Action<KeldoJwtOptions> configure)
            => builder.AddKeldoJwt(KeldoJwtDefaults.AuthenticationScheme, configure);

        /// <summary>Adds the scheme under the given name with options.</summary>
        public static AuthenticationBuilder AddKeldoJwt(this AuthenticationBuilder builder, string scheme, Action<KeldoJwtOptions> configure)
        {
            if (builder == null) throw new ArgumentNullException(nameof(builder));
            return builder.AddScheme<KeldoJwtOptions, KeldoJwtHandler>(scheme, configure);
        }
    }
}
