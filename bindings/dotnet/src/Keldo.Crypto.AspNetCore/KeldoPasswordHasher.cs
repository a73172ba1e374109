using System;
using System.Buffers.Binary;
using System.Globalization;
using Microsoft.AspNetCore.Identity;
using Microsoft.Extensions.DependencyInjection;
using Microsoft.Extensions.DependencyInjection.Extensions;
using Microsoft.Extensions.Options;

namespace Keldo.Crypto.AspNetCore
{
    /// <summary>Options of <see cref="KeldoPasswordHasher{TUser}"/>.</summary>
    public sealed class KeldoPasswordHasherOptions
    {
        /// <summary>PBKDF2 iterations of new hashes; a stored hash with fewer
        /// is verified and reported for rehashing.</summary>
        public int Iterations { get; set; } = KeldoCrypto.DefaultIterations;
    }

    /// <summary>An ASP.NET Core Identity password hasher that writes the
    /// library's PHC form ($pbkdf2-sha256$i=N$SALT$HASH) and verifies every
    /// form the library reads. A hash in Identity's own format is verified too,
    /// and answered <see cref="PasswordVerificationResult.SuccessRehashNeeded"/>,
    /// so Identity's <c>UserManager</c> stores a PHC hash at that user's next
    /// login and a user table migrates with no one locked out. Identity's
    /// version 3 hashes under HMAC-SHA256 (its default before .NET 7) are
    /// checked by the library itself; other Identity hashes (HMAC-SHA512, the
    /// version 2 HMAC-SHA1 form) by Identity's own hasher.</summary>
    public sealed class KeldoPasswordHasher<TUser> : IPasswordHasher<TUser> where TUser : class
    {
        readonly int iterations;
        readonly PasswordHasher<TUser> identity;

        /// <summary>The hasher, with its options and Identity's (for the
        /// hashes only Identity's hasher reads).</summary>
        public KeldoPasswordHasher(IOptions<KeldoPasswordHasherOptions>? options = null,
                                   IOptions<PasswordHasherOptions>? identityOptions = null)
        {
            iterations = options?.Value.Iterations ?? KeldoCrypto.DefaultIterations;
            if (iterations < 1 || iterations > KeldoCrypto.MaxIterations)
                throw new ArgumentOutOfRangeException(nameof(options), iterations,
                                                      "KeldoPasswordHasher: iterations must be from 1 to " + KeldoCrypto.MaxIterations);
            identity = new PasswordHasher<TUser>(identityOptions);
        }

        /// <inheritdoc/>
        public string HashPassword(TUser user, string password) => KeldoCrypto.HashPassword(password, iterations);

        /// <inheritdoc/>
        public PasswordVerificationResult VerifyHashedPassword(TUser user, string hashedPassword, string providedPassword)
        {
            if (hashedPassword == null) throw new ArgumentNullException(nameof(hashedPassword));
            if (providedPassword == null) throw new ArgumentNullException(nameof(providedPassword));
            try
            {
                if (!KeldoCrypto.VerifyPassword(providedPassword, hashedPassword)) return PasswordVerificationResult.Failed;
                return KeldoCrypto.NeedsRehash(hashedPassword, iterations)
                    ? PasswordVerificationResult.SuccessRehashNeeded
                    : PasswordVerificationResult.Success;
            }
            catch (MalformedHashException)
            {
                // Not a form the library reads: Identity's own, or nothing.
            }
            string? phc = IdentitySha256AsPhc(hashedPassword);
            if (phc != null)
            {
                try
                {
                    return KeldoCrypto.VerifyPassword(providedPassword, phc)
                        ? PasswordVerificationResult.SuccessRehashNeeded
                        : PasswordVerificationResult.Failed;
                }
                catch (MalformedHashException)
                {
                    // Fields the PHC form cannot carry: Identity's hasher decides.
                }
            }
            return identity.VerifyHashedPassword(user, hashedPassword, providedPassword) == PasswordVerificationResult.Failed
                ? PasswordVerificationResult.Failed
                : PasswordVerificationResult.SuccessRehashNeeded;
        }

        // Identity's version 3 layout (base64 of: 0x01, then big-endian
        // uint32 PRF, iteration count and salt length, the salt, the subkey)
        // with PRF 1, HMAC-SHA256, and a 32-byte subkey: the same PBKDF2 as
        // the library's PHC form, restated in it; null for any other hash.
        internal static string? IdentitySha256AsPhc(string stored)
        {
            byte[] b;
            try
            {
                b = Convert.FromBase64String(stored);
            }
            catch (FormatException)
            {
                return null;
            }
            if (b.Length < 13 || b[0] != 0x01) return null;
            uint prf = BinaryPrimitives.ReadUInt32BigEndian(b.AsSpan(1));
            uint count = BinaryPrimitives.ReadUInt32BigEndian(b.AsSpan(5));
            uint saltLength = BinaryPrimitives.ReadUInt32BigEndian(b.AsSpan(9));
            if (prf != 1 || saltLength == 0 || saltLength > (uint)b.Length - 13 || b.Length - 13 - saltLength != 32) return null;
            return "$pbkdf2-sha256$i=" + count.ToString(CultureInfo.InvariantCulture) + "$" +
                   Convert.ToBase64String(b, 13, (int)saltLength).TrimEnd('=') + "$" +
                   Convert.ToBase64String(b, 13 + (int)saltLength, 32).TrimEnd('=');
        }
    }

    /// <summary>Registration of <see cref="KeldoPasswordHasher{TUser}"/>.</summary>
    public static class KeldoPasswordHasherExtensions
    {
        /// <summary>Makes <see cref="KeldoPasswordHasher{TUser}"/> the
        /// application's <see cref="IPasswordHasher{TUser}"/>, before or after
        /// AddIdentity / AddIdentityCore.</summary>
        public static IServiceCollection AddKeldoPasswordHasher<TUser>(this IServiceCollection services,
                                                                       Action<KeldoPasswordHasherOptions>? configure = null)
            where TUser : class
        {
            if (services == null) throw new ArgumentNullException(nameof(services));
            if (configure != null) services.Configure(configure);
            services.Replace(ServiceDescriptor.Scoped<IPasswordHasher<TUser>, KeldoPasswordHasher<TUser>>());
            return services;
        }
    }
}
