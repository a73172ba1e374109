using System;

namespace Keldo.Crypto
{
    /// <summary>The claims of a verified token.</summary>
    public sealed class KeldoClaims
    {
        /// <summary>Claims as the library returned them.</summary>
        public KeldoClaims(string sub, string email, long exp) : this(sub, email, exp, 0) { }

        /// <summary>Claims as the library returned them, with the position of
        /// the key that matched in a <see cref="KeyRing"/>.</summary>
        public KeldoClaims(string sub, string email, long exp, int key)
        {
            Sub = sub;
            Email = email;
            Exp = exp;
            Key = key;
        }

        /// <summary>The "sub" claim (under 64 UTF-8 bytes).</summary>
        public string Sub { get; }

        /// <summary>The "email" claim (under 128 UTF-8 bytes).</summary>
        public string Email { get; }

        /// <summary>The "exp" claim: seconds since 1970-01-01 UTC.</summary>
        public long Exp { get; }

        /// <summary>The expiry as a point in time (UTC).</summary>
        public DateTimeOffset ExpiresAt => DateTimeOffset.FromUnixTimeSeconds(Exp);

        /// <summary>The position in the key ring of the key whose signature
        /// matched: 0 for the current key (and for a plain secret or a single
        /// <see cref="TokenKey"/>), more for an older key still accepted, whose
        /// holder should be given a token under the current key.</summary>
        public int Key { get; }
    }
}
