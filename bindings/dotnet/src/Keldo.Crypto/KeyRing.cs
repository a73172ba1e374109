using System;
using System.Collections.Generic;
using System.Linq;
using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    /// <summary>The keys a service accepts tokens under, the current one
    /// first, then the ones still accepted, so that a secret can be replaced
    /// without logging anyone out: add the new key second, promote it first
    /// once every instance has it, drop the old one after the longest token
    /// lifetime. Tokens are minted with the first key. Verification tries the
    /// keys in order, and only a bad signature moves on to the next key; any
    /// other refusal (malformed, expired, not yet valid, invalid claims) is
    /// the answer. <see cref="KeldoClaims.Key"/> tells which key matched, so a
    /// holder of a token under an older key can be given a new one.
    /// Made once, shared by all threads, no lock; <see cref="Dispose"/> wipes
    /// the ring's copies of the keys once calls in progress have returned.
    /// Time taken reveals the position of the matching key, never bytes of a
    /// key.</summary>
    public sealed unsafe class KeyRing : IDisposable
    {
        internal readonly KeyBlock Block;

        /// <summary>A ring of prepared keys, current first. The ring holds
        /// its own copies: the keys may be disposed independently.</summary>
        public KeyRing(params TokenKey[] keys)
        {
            if (keys == null) throw new ArgumentNullException(nameof(keys), "KeyRing: keys is null");
            if (Array.IndexOf(keys, null) >= 0) throw new ArgumentNullException(nameof(keys), "KeyRing: a key is null");
            Block = new KeyBlock(keys.Length);
            try
            {
                for (int i = 0; i < keys.Length; i++)
                {
                    int at = i;
                    keys[i].Block.Use(k => {
                        new ReadOnlySpan<byte>((void*)k, KeyBlock.KeySize).CopyTo(new Span<byte>(Block.Key(at), KeyBlock.KeySize));
                        return 0;
                    });
                }
                CheckCount();
            }
            catch
            {
                Block.Dispose();
                throw;
            }
        }

        /// <summary>A ring prepared from secrets (any bytes, at least 32
        /// each unless allowShortSecret), current first.</summary>
        public KeyRing(IEnumerable<byte[]> secrets, bool allowShortSecret = false)
        {
            byte[][] all = (secrets ?? throw new ArgumentNullException(nameof(secrets), "KeyRing: secrets is null")).ToArray();
            if (all.Length > 0 && ReferenceEquals(all, secrets)) all = (byte[][])all.Clone();
            if (Array.IndexOf(all, null) >= 0) throw new ArgumentNullException(nameof(secrets), "KeyRing: a secret is null");
            Block = new KeyBlock(all.Length);
            try
            {
                for (int i = 0; i < all.Length; i++) TokenKey.Init(Block.Key(i), all[i], allowShortSecret, "KeyRing");
                CheckCount();
            }
            catch
            {
                Block.Dispose();
                throw;
            }
        }

        /// <summary>A ring prepared from secrets (any bytes, at least 32
        /// each), current first: <c>new KeyRing(current, previous)</c>.</summary>
        public KeyRing(params byte[][] secrets) : this((IEnumerable<byte[]>)secrets, false)
        {
        }

        /// <summary>A ring prepared from the secrets' UTF-8 bytes, current first.</summary>
        public KeyRing(IEnumerable<string> secrets, bool allowShortSecret = false)
            : this((secrets ?? throw new ArgumentNullException(nameof(secrets), "KeyRing: secrets is null"))
                   .Select(s => Text.Utf8(s ?? throw new ArgumentNullException(nameof(secrets), "KeyRing: a secret is null"),
                                          "KeyRing: secret")), allowShortSecret)
        {
        }

        /// <summary>How many keys the ring holds.</summary>
        public int Count => Block.Count;

        // The library's bound on the number of keys, asked of the library
        // itself: it answers the count before it reads a token.
        void CheckCount()
        {
            byte empty = 0;
            int rc = NativeMethods.keldo_jwt_verify_k(Block.Key(0), (uint)Block.Count, &empty, null, null, null, null);
            if (rc == Status.KeyCount) throw new KeldoArgumentException(Status.Text(rc) + " (" + Block.Count + " keys)");
        }

        /// <summary>A token signed with the current (first) key.</summary>
        public string Mint(string sub, string email, uint ttlSeconds = 3600) => KeldoJwt.Mint(this, sub, email, ttlSeconds);

        /// <summary>Verifies token under the ring's keys, in order.</summary>
        public KeldoClaims Verify(string token) => KeldoJwt.Verify(token, this);

        /// <summary>Wipes and frees the ring's keys, once every call in
        /// progress has returned.</summary>
        public void Dispose() => Block.Dispose();
    }
}
