using System;
using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    /// <summary>HS256 tokens with the claims sub, email, iss, exp and nbf,
    /// minted and verified by the library. No lock: the library's reentrant
    /// functions write only the buffers each call passes, so any number of
    /// threads may call at once.</summary>
    public static unsafe partial class KeldoJwt
    {
        /// <summary>The shortest secret accepted without
        /// <c>allowShortSecret</c>: HS256 wants a key of the hash's size.</summary>
        public const int MinSecretBytes = 32;

        /// <summary>The longest token the library mints, in bytes (ASCII):
        /// a <see cref="Mint(ReadOnlySpan{byte}, ReadOnlySpan{byte}, ReadOnlySpan{byte}, Span{byte}, uint, bool)"/>
        /// destination of this size is always large enough.</summary>
        public const int MaxTokenLength = TokenMax - 1;

        internal const int SubCapacity = 64;    // the verifier's buffers, NUL included
        internal const int EmailCapacity = 128;
        internal const int TokenMax = 2129;     // the longest token the library mints, NUL included
        const int StackTokenChars = 2048;       // tokens up to this are copied to the stack, longer ones to the heap

        // ---- Mint ------------------------------------------------------------

        /// <summary>A token for sub (under 64 UTF-8 bytes) and email (under
        /// 128), valid from now for ttlSeconds. The secret is any bytes; one
        /// under 32 bytes is refused unless allowShortSecret.</summary>
        public static string Mint(byte[] secret, string sub, string email, uint ttlSeconds = 3600, bool allowShortSecret = false)
        {
            Text.NotNull(secret, "Mint: secret");
            return Mint(new ReadOnlySpan<byte>(secret), sub, email, ttlSeconds, allowShortSecret);
        }

        /// <summary>As <see cref="Mint(byte[], string, string, uint, bool)"/>
        /// with the secret's UTF-8 bytes.</summary>
        public static string Mint(string secret, string sub, string email, uint ttlSeconds = 3600, bool allowShortSecret = false)
        {
            Text.NotNull(secret, "Mint: secret");
            return Mint(Text.Utf8(secret, "Mint: secret"), sub, email, ttlSeconds, allowShortSecret);
        }

        /// <summary>As <see cref="Mint(byte[], string, string, uint, bool)"/>
        /// with the secret in a span (read in place, not copied).</summary>
        public static string Mint(ReadOnlySpan<byte> secret, string sub, string email, uint ttlSeconds = 3600,
                                  bool allowShortSecret = false)
        {
            CheckSecret(secret, allowShortSecret, "Mint");
            byte* subC = stackalloc byte[Text.MaxBytes(SubCapacity)];
            byte* emailC = stackalloc byte[Text.MaxBytes(EmailCapacity)];
            ClaimText(sub, "sub", SubCapacity, new Span<byte>(subC, Text.MaxBytes(SubCapacity)));
            ClaimText(email, "email", EmailCapacity, new Span<byte>(emailC, Text.MaxBytes(EmailCapacity)));
            byte* token = stackalloc byte[TokenMax];
            ulong size;
            int rc;
            fixed (byte* s = secret)
                rc = NativeMethods.keldo_jwt_mint_r(s, (ulong)secret.Length, subC, emailC, ttlSeconds, token, TokenMax, &size);
            if (rc != 0) throw Status.Refusal(rc);
            return Text.Ascii(new ReadOnlySpan<byte>(token, (int)size - 1));
        }

        /// <summary>As <see cref="Mint(byte[], string, string, uint, bool)"/>
        /// with a lifetime of whole seconds (0 to 2^32 - 1).</summary>
        public static string Mint(byte[] secret, string sub, string email, TimeSpan ttl, bool allowShortSecret = false)
            => Mint(secret, sub, email, Seconds(ttl), allowShortSecret);

        /// <summary>As <see cref="Mint(string, string, string, uint, bool)"/>
        /// with a lifetime of whole seconds (0 to 2^32 - 1).</summary>
        public static string Mint(string secret, string sub, string email, TimeSpan ttl, bool allowShortSecret = false)
            => Mint(secret, sub, email, Seconds(ttl), allowShortSecret);

        /// <summary>Mints into destination without allocating: sub and email
        /// are UTF-8 bytes (no NUL; under 64 and 128 bytes), the token is
        /// written as ASCII with no terminator. Returns the token's length.
        /// A destination of <see cref="MaxTokenLength"/> bytes always
        /// suffices; a smaller one that cannot hold this token is refused with
        /// <see cref="KeldoArgumentException"/>.</summary>
        public static int Mint(ReadOnlySpan<byte> secret, ReadOnlySpan<byte> subUtf8, ReadOnlySpan<byte> emailUtf8,
                               Span<byte> destination, uint ttlSeconds = 3600, bool allowShortSecret = false)
        {
            CheckSecret(secret, allowShortSecret, "Mint");
            byte* subC = stackalloc byte[SubCapacity];
            byte* emailC = stackalloc byte[EmailCapacity];
            ClaimBytes(subUtf8, "sub", SubCapacity, subC);
            ClaimBytes(emailUtf8, "email", EmailCapacity, emailC);
            int rc;
            fixed (byte* s = secret)
                rc = MintInto(s, (ulong)secret.Length, null, subC, emailC, ttlSeconds, destination);
            if (rc < 0) throw Status.Refusal(rc);
            return rc;
        }

        // The token into destination, by secret or (when key is not null) by
        // prepared key: its length, or a negative status.
        internal static int MintInto(byte* secret, ulong secretLength, byte* key, byte* subC, byte* emailC, uint ttl,
                                     Span<byte> destination)
        {
            byte* token = stackalloc byte[TokenMax];
            ulong size;
            int rc = key == null ? NativeMethods.keldo_jwt_mint_r(secret, secretLength, subC, emailC, ttl, token, TokenMax, &size)
                                 : KeyMint(key, subC, emailC, ttl, token, TokenMax, &size);
            if (rc != 0) return rc;
            int length = (int)size - 1;
            if (length > destination.Length)
                throw new KeldoArgumentException("Mint: destination holds " + destination.Length + " bytes; the token needs " + length);
            new ReadOnlySpan<byte>(token, length).CopyTo(destination);
            return length;
        }

        static uint Seconds(TimeSpan ttl)
        {
            if (ttl.Ticks < 0 || ttl.Ticks % TimeSpan.TicksPerSecond != 0 || ttl.TotalSeconds > uint.MaxValue)
                throw new ArgumentOutOfRangeException(nameof(ttl), ttl, "Mint: ttl must be whole seconds from 0 to " + uint.MaxValue);
            return (uint)(ttl.Ticks / TimeSpan.TicksPerSecond);
        }

        // ---- Verify ----------------------------------------------------------

        /// <summary>Verifies token against secret and the clock, token first
        /// as in other JWT libraries; throws a <see cref="TokenException"/>
        /// subclass when it is refused (<see cref="MalformedTokenException"/>
        /// for a null or empty token).</summary>
        public static KeldoClaims Verify(string token, byte[] secret, bool allowShortSecret = false)
        {
            if (string.IsNullOrEmpty(token)) throw new MalformedTokenException("Verify: no token");
            Text.NotNull(secret, "Verify: secret");
            return Verify(token, new ReadOnlySpan<byte>(secret), allowShortSecret);
        }

        /// <summary>As <see cref="Verify(string, byte[], bool)"/> with the
        /// secret's UTF-8 bytes.</summary>
        public static KeldoClaims Verify(string token, string secret, bool allowShortSecret = false)
        {
            if (string.IsNullOrEmpty(token)) throw new MalformedTokenException("Verify: no token");
            Text.NotNull(secret, "Verify: secret");
            return Verify(token, Text.Utf8(secret, "Verify: secret"), allowShortSecret);
        }

        /// <summary>As <see cref="Verify(string, byte[], bool)"/> with the
        /// secret in a span (read in place).</summary>
        public static KeldoClaims Verify(string token, ReadOnlySpan<byte> secret, bool allowShortSecret = false)
        {
            if (string.IsNullOrEmpty(token)) throw new MalformedTokenException("Verify: no token");
            CheckSecret(secret, allowShortSecret, "Verify");
            fixed (byte* s = secret)
                return WithTokenText(token, secret, (IntPtr)s, (ulong)secret.Length, IntPtr.Zero, 0);
        }

        /// <summary>Verifies a token given as its UTF-8 (ASCII) bytes, with no
        /// copy to the heap: the only allocation is the returned claims.</summary>
        public static KeldoClaims Verify(ReadOnlySpan<byte> tokenUtf8, ReadOnlySpan<byte> secret, bool allowShortSecret = false)
        {
            if (tokenUtf8.IsEmpty) throw new MalformedTokenException("Verify: no token");
            CheckSecret(secret, allowShortSecret, "Verify");
            fixed (byte* s = secret)
                return WithTokenBytes(tokenUtf8, secret, (IntPtr)s, (ulong)secret.Length, IntPtr.Zero, 0);
        }

        /// <summary>The argument order of version 1.0.</summary>
        [Obsolete("The token comes first: KeldoJwt.Verify(token, secret)")]
        public static KeldoClaims Verify(byte[] secret, string token, bool allowShortSecret = false)
            => Verify(token, secret, allowShortSecret);

        // The token as C text (on the stack when short), then the check by
        // secret, or by keys (a ring of count keys) when keys is not zero.
        // swapKey: the secret, to tell a call with swapped arguments.
        internal static KeldoClaims WithTokenText(string token, ReadOnlySpan<byte> swapKey, IntPtr secret, ulong secretLength,
                                                  IntPtr keys, uint count)
        {
            if (token.IndexOf('\0') >= 0) throw Malformed("Verify: token holds a NUL character", swapKey);
            byte[]? heap = null;
            int room = token.Length <= StackTokenChars ? Text.MaxBytes(token.Length) : 0;
            byte* stack = stackalloc byte[room];
            Span<byte> c = room > 0 ? new Span<byte>(stack, room) : (heap = new byte[Text.MaxBytes(token.Length)]);
            try
            {
                Text.ToC(token, c, "Verify: token");
            }
            catch (KeldoArgumentException)
            {
                throw Malformed("Verify: token is not well-formed Unicode text", swapKey);
            }
            fixed (byte* t = c) return Check((byte*)secret, secretLength, (byte*)keys, count, t, swapKey);
        }

        internal static KeldoClaims WithTokenBytes(ReadOnlySpan<byte> token, ReadOnlySpan<byte> swapKey, IntPtr secret,
                                                   ulong secretLength, IntPtr keys, uint count)
        {
            if (token.IndexOf((byte)0) >= 0) throw Malformed("Verify: token holds a NUL character", swapKey);
            int room = token.Length + 1;
            byte[]? heap = null;
            byte* stack = stackalloc byte[room <= StackTokenChars ? room : 0];
            Span<byte> c = room <= StackTokenChars ? new Span<byte>(stack, room) : (heap = new byte[room]);
            token.CopyTo(c);
            c[token.Length] = 0;
            fixed (byte* t = c) return Check((byte*)secret, secretLength, (byte*)keys, count, t, swapKey);
        }

        static KeldoClaims Check(byte* secret, ulong secretLength, byte* keys, uint count, byte* tokenC, ReadOnlySpan<byte> swapKey)
        {
            byte* sub = stackalloc byte[SubCapacity];
            byte* email = stackalloc byte[EmailCapacity];
            long exp;
            uint index = 0;
            int rc = keys == null ? NativeMethods.keldo_jwt_verify_r(secret, secretLength, tokenC, sub, email, &exp)
                                  : KeyVerify(keys, count, tokenC, sub, email, &exp, &index);
            if (rc != 0)
            {
                Exception? swapped = Status.Kind(rc) == Status.KindMalformed ? Swapped(swapKey) : null;
                throw swapped ?? Status.Refusal(rc);
            }
            return new KeldoClaims(Text.FromC(new ReadOnlySpan<byte>(sub, SubCapacity)),
                                   Text.FromC(new ReadOnlySpan<byte>(email, EmailCapacity)), exp, (int)index);
        }

        // ---- checks ----------------------------------------------------------

        // Any bytes, NUL included: the library takes the secret with its
        // length. Empty is refused, and under 32 bytes unless asked for.
        internal static void CheckSecret(ReadOnlySpan<byte> secret, bool allowShort, string fn)
        {
            if (secret.IsEmpty) throw new KeldoArgumentException(fn + ": secret is empty");
            if (secret.Length < MinSecretBytes && !allowShort)
                throw new KeldoArgumentException(fn + ": secret is shorter than " + MinSecretBytes +
                                                 " bytes (pass allowShortSecret: true to accept it)");
        }

        // Verify(secret, token) with two strings, the order of version 1.0:
        // what came as the key is a token while the token is malformed.
        static Exception? Swapped(ReadOnlySpan<byte> key)
        {
            if (!LooksLikeToken(key)) return null;
            return new KeldoArgumentException(
                "Verify: the arguments look swapped: the token comes first, the key second (Verify(token, secret))");
        }

        static Exception Malformed(string message, ReadOnlySpan<byte> key) => Swapped(key) ?? new MalformedTokenException(message);

        // Three base64url segments, the last possibly empty.
        static bool LooksLikeToken(ReadOnlySpan<byte> b)
        {
            int dots = 0, run = 0;
            foreach (byte c in b)
            {
                if (c == '.')
                {
                    if (run == 0) return false;
                    dots++;
                    run = 0;
                }
                else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')
                {
                    run++;
                }
                else
                {
                    return false;
                }
            }
            return dots == 2;
        }

        // value as C text into destination (Text.MaxBytes(capacity) bytes),
        // refused when the library's verifier could not return it.
        internal static void ClaimText(string value, string name, int capacity, Span<byte> destination)
        {
            if (value == null) throw new ArgumentNullException(name, "Mint: " + name + " is null");
            if (value.IndexOf('\0') >= 0) throw new KeldoArgumentException("Mint: " + name + " holds a NUL character");
            // A UTF-8 form has at least as many bytes as the string has chars.
            if (value.Length >= capacity || Text.ToC(value, destination, "Mint: " + name) >= capacity)
                throw new KeldoArgumentException("Mint: " + name + " is " + capacity + " UTF-8 bytes or longer");
        }

        internal static void ClaimBytes(ReadOnlySpan<byte> value, string name, int capacity, byte* destination)
        {
            if (value.IndexOf((byte)0) >= 0) throw new KeldoArgumentException("Mint: " + name + " holds a NUL character");
            if (value.Length >= capacity)
                throw new KeldoArgumentException("Mint: " + name + " is " + capacity + " UTF-8 bytes or longer");
            value.CopyTo(new Span<byte>(destination, capacity));
            destination[value.Length] = 0;
        }
    }
}
