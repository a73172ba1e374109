using System;
using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    /// <summary>A prepared token key: the library's keyed HMAC states for one
    /// secret (not the secret itself), made once at start-up and shared by
    /// every thread; each token then costs two SHA-256 compressions less than
    /// with the secret. Accepted wherever a secret is
    /// (<see cref="KeldoJwt.Mint(TokenKey, string, string, uint)"/>,
    /// <see cref="KeldoJwt.Verify(string, TokenKey)"/>) and as a member of a
    /// <see cref="KeyRing"/>. <see cref="Dispose"/> wipes the states; it waits
    /// for calls in progress on other threads, and any use after it throws
    /// <see cref="ObjectDisposedException"/>.</summary>
    public sealed unsafe class TokenKey : IDisposable
    {
        internal readonly KeyBlock Block = new KeyBlock(1);

        /// <summary>Prepares a key from secret, any bytes (at least 32 unless
        /// allowShortSecret). The array may be cleared afterwards: no copy of
        /// it is kept.</summary>
        public TokenKey(byte[] secret, bool allowShortSecret = false)
            : this(new ReadOnlySpan<byte>(secret ?? throw new ArgumentNullException(nameof(secret), "TokenKey: secret is null")),
                   allowShortSecret)
        {
        }

        /// <summary>Prepares a key from the secret's UTF-8 bytes.</summary>
        public TokenKey(string secret, bool allowShortSecret = false)
            : this(Text.Utf8(secret ?? throw new ArgumentNullException(nameof(secret), "TokenKey: secret is null"),
                             "TokenKey: secret"), allowShortSecret)
        {
        }

        /// <summary>Prepares a key from secret, read in place.</summary>
        public TokenKey(ReadOnlySpan<byte> secret, bool allowShortSecret = false)
        {
            try
            {
                Init(Block.Key(0), secret, allowShortSecret, "TokenKey");
            }
            catch
            {
                Block.Dispose();
                throw;
            }
        }

        internal static void Init(byte* key, ReadOnlySpan<byte> secret, bool allowShortSecret, string fn)
        {
            KeldoJwt.CheckSecret(secret, allowShortSecret, fn);
            int rc;
            fixed (byte* s = secret) rc = NativeMethods.keldo_jwt_key_init(key, s, (ulong)secret.Length);
            if (rc != 0) throw Status.Refusal(rc);
        }

        /// <summary>A token signed with this key: the same token, byte for
        /// byte, as <see cref="KeldoJwt.Mint(byte[], string, string, uint, bool)"/> with its secret.</summary>
        public string Mint(string sub, string email, uint ttlSeconds = 3600) => KeldoJwt.Mint(this, sub, email, ttlSeconds);

        /// <summary>Verifies token under this key; <see cref="KeldoClaims.Key"/> is 0.</summary>
        public KeldoClaims Verify(string token) => KeldoJwt.Verify(token, this);

        /// <summary>Wipes the key's states and frees them, once every call in
        /// progress has returned.</summary>
        public void Dispose() => Block.Dispose();
    }
}
