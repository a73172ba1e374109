using System;
using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    // Tokens by prepared key and key ring: the same checks and texts as by
    // secret, through keldo_jwt_mint_k and keldo_jwt_verify_k.
    public static unsafe partial class KeldoJwt
    {
        /// <summary>As <see cref="Mint(byte[], string, string, uint, bool)"/>, signed with a prepared key.</summary>
        public static string Mint(TokenKey key, string sub, string email, uint ttlSeconds = 3600)
            => MintText(Block(key, "Mint: key"), sub, email, ttlSeconds);

        /// <summary>As <see cref="Mint(TokenKey, string, string, uint)"/> with a lifetime of whole seconds.</summary>
        public static string Mint(TokenKey key, string sub, string email, TimeSpan ttl) => Mint(key, sub, email, Seconds(ttl));

        /// <summary>A token signed with the ring's current (first) key.</summary>
        public static string Mint(KeyRing ring, string sub, string email, uint ttlSeconds = 3600)
            => MintText(Block(ring, "Mint: ring"), sub, email, ttlSeconds);

        /// <summary>As <see cref="Mint(KeyRing, string, string, uint)"/> with a lifetime of whole seconds.</summary>
        public static string Mint(KeyRing ring, string sub, string email, TimeSpan ttl) => Mint(ring, sub, email, Seconds(ttl));

        /// <summary>As <see cref="Mint(ReadOnlySpan{byte}, ReadOnlySpan{byte}, ReadOnlySpan{byte}, Span{byte}, uint, bool)"/>,
        /// signed with a prepared key, without allocating.</summary>
        public static int Mint(TokenKey key, ReadOnlySpan<byte> subUtf8, ReadOnlySpan<byte> emailUtf8, Span<byte> destination,
                               uint ttlSeconds = 3600)
            => MintBytes(Block(key, "Mint: key"), subUtf8, emailUtf8, destination, ttlSeconds);

        /// <summary>As <see cref="Mint(TokenKey, ReadOnlySpan{byte}, ReadOnlySpan{byte}, Span{byte}, uint)"/>
        /// with the ring's current key.</summary>
        public static int Mint(KeyRing ring, ReadOnlySpan<byte> subUtf8, ReadOnlySpan<byte> emailUtf8, Span<byte> destination,
                               uint ttlSeconds = 3600)
            => MintBytes(Block(ring, "Mint: ring"), subUtf8, emailUtf8, destination, ttlSeconds);

        /// <summary>Verifies token under a prepared key.</summary>
        public static KeldoClaims Verify(string token, TokenKey key) => VerifyText(token, Block(key, "Verify: key"));

        /// <summary>Verifies token under the ring's keys in order; only a bad
        /// signature moves on to the next key. <see cref="KeldoClaims.Key"/>
        /// is the position of the key that matched.</summary>
        public static KeldoClaims Verify(string token, KeyRing ring) => VerifyText(token, Block(ring, "Verify: ring"));

        /// <summary>As <see cref="Verify(string, TokenKey)"/> with the token's
        /// bytes: the only allocation is the returned claims.</summary>
        public static KeldoClaims Verify(ReadOnlySpan<byte> tokenUtf8, TokenKey key) => VerifyBytes(tokenUtf8, Block(key, "Verify: key"));

        /// <summary>As <see cref="Verify(string, KeyRing)"/> with the token's
        /// bytes: the only allocation is the returned claims.</summary>
        public static KeldoClaims Verify(ReadOnlySpan<byte> tokenUtf8, KeyRing ring) => VerifyBytes(tokenUtf8, Block(ring, "Verify: ring"));

        static KeyBlock Block(TokenKey key, string what)
        {
            Text.NotNull(key, what);
            return key.Block;
        }

        static KeyBlock Block(KeyRing ring, string what)
        {
            Text.NotNull(ring, what);
            return ring.Block;
        }

        static string MintText(KeyBlock block, string sub, string email, uint ttl)
        {
            byte* subC = stackalloc byte[Text.MaxBytes(SubCapacity)];
            byte* emailC = stackalloc byte[Text.MaxBytes(EmailCapacity)];
            ClaimText(sub, "sub", SubCapacity, new Span<byte>(subC, Text.MaxBytes(SubCapacity)));
            ClaimText(email, "email", EmailCapacity, new Span<byte>(emailC, Text.MaxBytes(EmailCapacity)));
            byte* token = stackalloc byte[TokenMax];
            ulong size;
            int rc;
            bool held = false;
            try
            {
                block.Hold(ref held);
                rc = NativeMethods.keldo_jwt_mint_k(block.Key(0), subC, emailC, ttl, token, TokenMax, &size);
            }
            finally
            {
                if (held) block.Unhold();
            }
            if (rc != 0) throw Status.Refusal(rc);
            return Text.Ascii(new ReadOnlySpan<byte>(token, (int)size - 1));
        }

        static int MintBytes(KeyBlock block, ReadOnlySpan<byte> subUtf8, ReadOnlySpan<byte> emailUtf8, Span<byte> destination, uint ttl)
        {
            byte* subC = stackalloc byte[SubCapacity];
            byte* emailC = stackalloc byte[EmailCapacity];
            ClaimBytes(subUtf8, "sub", SubCapacity, subC);
            ClaimBytes(emailUtf8, "email", EmailCapacity, emailC);
            int rc;
            bool held = false;
            try
            {
                block.Hold(ref held);
                rc = MintInto(null, 0, block.Key(0), subC, emailC, ttl, destination);
            }
            finally
            {
                if (held) block.Unhold();
            }
            if (rc < 0) throw Status.Refusal(rc);
            return rc;
        }

        static KeldoClaims VerifyText(KeyBlock block, string token)
        {
            if (string.IsNullOrEmpty(token)) throw new MalformedTokenException("Verify: no token");
            bool held = false;
            try
            {
                block.Hold(ref held);
                return WithTokenText(token, default, IntPtr.Zero, 0, block.Address, (uint)block.Count);
            }
            finally
            {
                if (held) block.Unhold();
            }
        }

        static KeldoClaims VerifyText(string token, KeyBlock block) => VerifyText(block, token);

        static KeldoClaims VerifyBytes(ReadOnlySpan<byte> token, KeyBlock block)
        {
            if (token.IsEmpty) throw new MalformedTokenException("Verify: no token");
            bool held = false;
            try
            {
                block.Hold(ref held);
                return WithTokenBytes(token, default, IntPtr.Zero, 0, block.Address, (uint)block.Count);
            }
            finally
            {
                if (held) block.Unhold();
            }
        }

        internal static int KeyMint(byte* key, byte* sub, byte* email, uint ttl, byte* token, ulong size, ulong* sizeOut)
            => NativeMethods.keldo_jwt_mint_k(key, sub, email, ttl, token, size, sizeOut);

        internal static int KeyVerify(byte* keys, uint count, byte* token, byte* sub, byte* email, long* exp, uint* index)
            => NativeMethods.keldo_jwt_verify_k(keys, count, token, sub, email, exp, index);
    }
}
