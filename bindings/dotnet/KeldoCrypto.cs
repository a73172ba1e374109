// keldo-crypto for .NET: HS256 tokens, PBKDF2 password hashes, SHA-256, HMAC,
// Base64 and UUIDs over the keldo_crypto shared library (keldo_crypto.dll on
// Windows, libkeldo_crypto.so.1 on Linux). One source file, C# 6, no unsafe
// code: it builds with Mono's mcs and with any .NET SDK.
//
// No lock: tokens and password hashes go through the library's reentrant
// functions, which report a status code and write only the buffers given to
// them; the other calls cannot fail with the arguments checked here, so the
// library's shared error text is never read.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Keldo.Crypto
{
    /// <summary>Base of every refusal and failure of keldo-crypto that is not
    /// an argument error (those are <see cref="ArgumentException"/>s).</summary>
    public class KeldoException : Exception
    {
        public KeldoException(string message) : base(message) { }
    }

    /// <summary>An argument refused before or by the library. Null
    /// arguments are <see cref="ArgumentNullException"/>s.</summary>
    public class KeldoArgumentException : ArgumentException
    {
        public KeldoArgumentException(string message) : base(message) { }
    }

    /// <summary>A stored password hash that is not a usable hash in any form
    /// the library reads: a broken user table, not a wrong password.</summary>
    public sealed class MalformedHashException : KeldoArgumentException
    {
        public MalformedHashException(string message) : base(message) { }
    }

    /// <summary>The library failed for a reason other than its input (memory,
    /// the random source).</summary>
    public class KeldoLibraryException : KeldoException
    {
        public KeldoLibraryException(string message) : base(message) { }
    }

    /// <summary>The shared library could not be found or loaded; the message
    /// says what was tried and how to point at the file.</summary>
    public sealed class KeldoLibraryNotFoundException : KeldoException
    {
        public KeldoLibraryNotFoundException(string message) : base(message) { }
    }

    /// <summary>Base of every reason a token is refused.</summary>
    public class TokenException : KeldoException
    {
        public TokenException(string message) : base(message) { }
    }

    /// <summary>No token, or not three segments of base64url with a JSON
    /// object.</summary>
    public sealed class MalformedTokenException : TokenException
    {
        public MalformedTokenException(string message) : base(message) { }
    }

    public sealed class BadSignatureException : TokenException
    {
        public BadSignatureException(string message) : base(message) { }
    }

    public sealed class TokenExpiredException : TokenException
    {
        public TokenExpiredException(string message) : base(message) { }
    }

    public sealed class TokenNotYetValidException : TokenException
    {
        public TokenNotYetValidException(string message) : base(message) { }
    }

    /// <summary>Issuer, or sub, email or exp missing or invalid.</summary>
    public sealed class InvalidClaimsException : TokenException
    {
        public InvalidClaimsException(string message) : base(message) { }
    }

    /// <summary>The claims of a verified token.</summary>
    public sealed class KeldoClaims
    {
        public KeldoClaims(string sub, string email, long exp)
        {
            Sub = sub;
            Email = email;
            Exp = exp;
        }

        public string Sub { get; }
        public string Email { get; }
        /// <summary>The "exp" claim: seconds since 1970-01-01 UTC.</summary>
        public long Exp { get; }
        /// <summary>The expiry as a point in time (UTC).</summary>
        public DateTimeOffset ExpiresAt { get { return DateTimeOffset.FromUnixTimeSeconds(Exp); } }
    }

    /// <summary>HS256 tokens with the claims sub, email, iss, exp and nbf.</summary>
    public static class KeldoJwt
    {
        public const int MinSecretBytes = 32;
        const int SubCapacity = 64;    // the verifier's buffers, NUL included
        const int EmailCapacity = 128;
        const int TokenMax = 2129;     // the longest token the library mints, NUL included
        const int TokenMaxAligned = (TokenMax + 7) / 8 * 8;

        /// <summary>A token for sub (under 64 UTF-8 bytes) and email (under
        /// 128), valid from now for ttlSeconds. The secret is any bytes; one
        /// under 32 bytes is refused unless allowShortSecret.</summary>
        public static string Mint(byte[] secret, string sub, string email, uint ttlSeconds = 3600,
                                  bool allowShortSecret = false)
        {
            byte[] key = Checks.Secret(secret, allowShortSecret, "Mint");
            byte[] subC = ClaimText(sub, "sub", SubCapacity);
            byte[] emailC = ClaimText(email, "email", EmailCapacity);
            // Outputs in unmanaged memory: the runtime's marshalling of an
            // [Out] array costs with its length (Mono copies it), and a token
            // needs room for 2129 bytes. The size the token takes comes back
            // behind it.
            IntPtr block = Marshal.AllocHGlobal(TokenMax + 8 + 8);
            try
            {
                IntPtr sizeOut = new IntPtr(block.ToInt64() + TokenMaxAligned);
                int rc = Native.Fns.keldo_jwt_mint_r(key, (ulong)key.Length, subC, emailC, ttlSeconds, block,
                                                     TokenMax, sizeOut);
                if (rc != 0) throw Native.Refusal(rc);
                int length = (int)Marshal.ReadInt64(sizeOut) - 1;
                var text = new byte[length];
                Marshal.Copy(block, text, 0, length);
                return Encoding.ASCII.GetString(text);
            }
            finally
            {
                Marshal.FreeHGlobal(block);
            }
        }

        public static string Mint(string secret, string sub, string email, uint ttlSeconds = 3600,
                                  bool allowShortSecret = false)
        {
            return Mint(Checks.Utf8(secret, "Mint: secret"), sub, email, ttlSeconds, allowShortSecret);
        }

        /// <summary>As Mint with a lifetime of whole seconds (0 to 2^32 - 1).</summary>
        public static string Mint(byte[] secret, string sub, string email, TimeSpan ttl, bool allowShortSecret = false)
        {
            return Mint(secret, sub, email, Seconds(ttl), allowShortSecret);
        }

        public static string Mint(string secret, string sub, string email, TimeSpan ttl, bool allowShortSecret = false)
        {
            return Mint(secret, sub, email, Seconds(ttl), allowShortSecret);
        }

        static uint Seconds(TimeSpan ttl)
        {
            if (ttl.Ticks < 0 || ttl.Ticks % TimeSpan.TicksPerSecond != 0 || ttl.TotalSeconds > uint.MaxValue)
                throw new ArgumentOutOfRangeException("ttl", ttl, "Mint: ttl must be whole seconds from 0 to " + uint.MaxValue);
            return (uint)(ttl.Ticks / TimeSpan.TicksPerSecond);
        }

        /// <summary>Verifies token against secret and the clock, token first
        /// as in other JWT libraries; throws a TokenException subclass when it
        /// is refused (MalformedTokenException for a null or empty token).</summary>
        public static KeldoClaims Verify(string token, byte[] secret, bool allowShortSecret = false)
        {
            if (string.IsNullOrEmpty(token)) throw new MalformedTokenException("Verify: no token");
            byte[] key = Checks.Secret(secret, allowShortSecret, "Verify");
            if (token.IndexOf('\0') >= 0)
                throw Malformed("Verify: token holds a NUL character", key);
            byte[] tokenC;
            try
            {
                tokenC = Checks.CString(Checks.Utf8(token, "Verify: token"));
            }
            catch (KeldoArgumentException)
            {
                throw Malformed("Verify: token is not well-formed Unicode text", key);
            }
            // The claims in one unmanaged block: exp, then sub[64], email[128].
            IntPtr block = Marshal.AllocHGlobal(8 + SubCapacity + EmailCapacity);
            try
            {
                IntPtr sub = new IntPtr(block.ToInt64() + 8), email = new IntPtr(block.ToInt64() + 8 + SubCapacity);
                int rc = Native.Fns.keldo_jwt_verify_r(key, (ulong)key.Length, tokenC, sub, email, block);
                if (rc != 0)
                {
                    Exception swapped = rc / -100 == Native.KindMalformed ? Swapped(key) : null;
                    throw swapped ?? Native.Refusal(rc);
                }
                var claims = new byte[SubCapacity + EmailCapacity];
                Marshal.Copy(sub, claims, 0, claims.Length);
                return new KeldoClaims(Checks.Text(claims, 0, SubCapacity), Checks.Text(claims, SubCapacity, EmailCapacity),
                                       Marshal.ReadInt64(block));
            }
            finally
            {
                Marshal.FreeHGlobal(block);
            }
        }

        public static KeldoClaims Verify(string token, string secret, bool allowShortSecret = false)
        {
            if (string.IsNullOrEmpty(token)) throw new MalformedTokenException("Verify: no token");
            return Verify(token, Checks.Utf8(secret, "Verify: secret"), allowShortSecret);
        }

        /// <summary>The argument order of version 1.0.</summary>
        [Obsolete("The token comes first: KeldoJwt.Verify(token, secret)")]
        public static KeldoClaims Verify(byte[] secret, string token, bool allowShortSecret = false)
        {
            return Verify(token, secret, allowShortSecret);
        }

        // Verify(secret, token) with two strings, the order of version 1.0:
        // what came as the key is a token while the token is malformed.
        static Exception Swapped(byte[] key)
        {
            if (!LooksLikeToken(key)) return null;
            return new KeldoArgumentException(
                "Verify: the arguments look swapped: the token comes first, the key second (Verify(token, secret))");
        }

        static Exception Malformed(string message, byte[] key)
        {
            return Swapped(key) ?? new MalformedTokenException(message);
        }

        // Three base64url segments, the last possibly empty.
        static bool LooksLikeToken(byte[] b)
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

        static byte[] ClaimText(string value, string name, int capacity)
        {
            if (value == null) throw new ArgumentNullException(name, "Mint: " + name + " is null");
            byte[] b = Checks.Utf8(value, "Mint: " + name);
            if (Array.IndexOf(b, (byte)0) >= 0) throw new KeldoArgumentException("Mint: " + name + " holds a NUL character");
            if (b.Length >= capacity)
                throw new KeldoArgumentException("Mint: " + name + " is " + capacity + " UTF-8 bytes or longer");
            return Checks.CString(b);
        }
    }

    /// <summary>Hashes, key derivation, encodings, identifiers, comparison
    /// and password hash strings.</summary>
    public static class KeldoCrypto
    {
        // The library's bounds for password hashes.
        public const int DefaultIterations = 600000;   // OWASP's figure for PBKDF2-HMAC-SHA256
        public const int MaxIterations = 100000000;
        const int MaxPasswordBytes = 4096;
        const int PasswordHashMax = 256;  // the longest hash string the library writes, NUL included

        /// <summary>Loads the library from path before its first use; without
        /// a call, the NuGet package's runtimes/&lt;rid&gt;/native/ library,
        /// KELDO_CRYPTO_LIBRARY, the runtime's search for keldo_crypto, then
        /// the system loader's for libkeldo_crypto.so.1 are used.</summary>
        public static void LoadLibrary(string path)
        {
            if (path == null) throw new ArgumentNullException("path", "LoadLibrary: path is null");
            Native.Bind(path);
        }

        public static byte[] Sha256(byte[] data)
        {
            Checks.NotNull(data, "Sha256: data");
            var digest = new byte[32];
            if (Native.Fns.keldo_crypto_sha256(data, (ulong)data.Length, digest) != 0)
                throw new KeldoLibraryException("Sha256: the library failed");
            return digest;
        }

        public static byte[] HmacSha256(byte[] key, byte[] data)
        {
            Checks.NotNull(key, "HmacSha256: key");
            Checks.NotNull(data, "HmacSha256: data");
            var mac = new byte[32];
            if (Native.Fns.keldo_crypto_hmac_sha256(key, (ulong)key.Length, data, (ulong)data.Length, mac) != 0)
                throw new KeldoLibraryException("HmacSha256: the library failed");
            return mac;
        }

        // The library's own refusals (the only failures that write its error
        // text) are ruled out here; what remains is an allocation failure
        // inside it, which writes none.
        public static byte[] Pbkdf2Sha256(byte[] password, byte[] salt, uint iterations, int length = 32)
        {
            Checks.NotNull(password, "Pbkdf2Sha256: password");
            Checks.NotNull(salt, "Pbkdf2Sha256: salt");
            if (iterations == 0) throw new KeldoArgumentException("Pbkdf2Sha256: iterations must be at least 1");
            if (length < 1) throw new KeldoArgumentException("Pbkdf2Sha256: length must be at least 1");
            var key = new byte[length];
            if (Native.Fns.keldo_crypto_pbkdf2_sha256(password, (ulong)password.Length, salt, (ulong)salt.Length,
                                                  iterations, key, (ulong)length) != 0)
                throw new KeldoLibraryException("Pbkdf2Sha256: the library could not derive the key (out of memory)");
            return key;
        }

        public static string Base64Encode(byte[] data) { return Encode(data, false); }
        public static string Base64UrlEncode(byte[] data) { return Encode(data, true); }
        public static byte[] Base64Decode(string text) { return Decode(text, false); }
        public static byte[] Base64UrlDecode(string text) { return Decode(text, true); }

        static string Encode(byte[] data, bool url)
        {
            Checks.NotNull(data, url ? "Base64UrlEncode: data" : "Base64Encode: data");
            var text = new byte[(data.Length + 2) / 3 * 4 + 1];
            int rc = url ? Native.Fns.keldo_crypto_base64url_encode(data, (ulong)data.Length, text, (ulong)text.Length)
                         : Native.Fns.keldo_crypto_base64_encode(data, (ulong)data.Length, text, (ulong)text.Length);
            if (rc != 0) throw new KeldoLibraryException("Base64 encoding failed in the library");
            return Checks.Text(text);
        }

        static byte[] Decode(string text, bool url)
        {
            string fn = url ? "Base64UrlDecode" : "Base64Decode";
            if (text == null) throw new ArgumentNullException("text", fn + ": text is null");
            if (text.IndexOf('\0') >= 0) throw new KeldoArgumentException(fn + ": text holds a NUL character");
            byte[] input = Checks.CString(Checks.Utf8(text, fn + ": text"));
            var output = new byte[(input.Length - 1) / 4 * 3 + 3];
            var length = new ulong[1];
            int rc = url ? Native.Fns.keldo_crypto_base64url_decode(input, output, (ulong)output.Length, length)
                         : Native.Fns.keldo_crypto_base64_decode(input, output, (ulong)output.Length, length);
            // With these arguments the decoders have one refusal, with one
            // fixed text: written here, not read from the shared error text.
            if (rc != 0)
                throw new KeldoArgumentException("keldo_crypto_" + (url ? "base64url" : "base64") +
                                                 "_decode: decode failed or buffer too small");
            Array.Resize(ref output, (int)length[0]);
            return output;
        }

        /// <summary>A random version 4 UUID, 36 lowercase characters.</summary>
        public static string Uuid4()
        {
            var text = new byte[37];
            // The output is given, so the random source is the only failure.
            if (Native.Fns.keldo_crypto_uuid_generate(text) != 0)
                throw new KeldoLibraryException("keldo_crypto_uuid_generate: CSPRNG generation failed");
            return Encoding.ASCII.GetString(text, 0, 36);
        }

        /// <summary>Constant-time equality of equal-length inputs; false when
        /// the lengths differ (the length is not secret).</summary>
        public static bool CompareDigest(byte[] a, byte[] b)
        {
            Checks.NotNull(a, "CompareDigest: a");
            Checks.NotNull(b, "CompareDigest: b");
            if (a.Length != b.Length) return false;
            return Native.Fns.keldo_crypto_secure_compare(a, b, (ulong)a.Length) == 0;
        }

        /// <summary>$pbkdf2-sha256$i=N$SALT$HASH with a random 16-byte salt
        /// (SALT and HASH unpadded standard Base64).</summary>
        public static string HashPassword(string password, int iterations = DefaultIterations)
        {
            byte[] pw = Checks.Utf8(password, "HashPassword: password");
            if (pw.Length == 0) throw new KeldoArgumentException("HashPassword: the password is empty");
            if (pw.Length > MaxPasswordBytes)
                throw new KeldoArgumentException("HashPassword: password is longer than " + MaxPasswordBytes + " bytes");
            if (iterations < 1 || iterations > MaxIterations)
                throw new ArgumentOutOfRangeException("iterations", iterations,
                                                      "HashPassword: iterations must be from 1 to " + MaxIterations);
            var stored = new byte[PasswordHashMax];
            int rc = Native.Fns.keldo_password_hash(pw, (ulong)pw.Length, (uint)iterations, stored, (ulong)stored.Length);
            Array.Clear(pw, 0, pw.Length);
            if (rc != 0) throw Native.Refusal(rc);
            return Checks.Text(stored);
        }

        /// <summary>Checks password against a stored PBKDF2-HMAC-SHA256 hash in
        /// any form the library reads: PHC ($pbkdf2-sha256$i=N$SALT$HASH),
        /// Django (pbkdf2_sha256$N$SALT$HASH), passlib ($pbkdf2-sha256$N$...)
        /// or Werkzeug (pbkdf2:sha256:N$SALT$HEXHASH). A password over 4096
        /// bytes never matches; a stored string that is no usable hash throws
        /// MalformedHashException.</summary>
        public static bool VerifyPassword(string password, string stored)
        {
            byte[] storedC = StoredText(stored, "VerifyPassword");
            byte[] pw = Checks.Utf8(password, "VerifyPassword: password");
            int rc = Native.Fns.keldo_password_verify(pw, (ulong)pw.Length, storedC);
            Array.Clear(pw, 0, pw.Length);
            if (rc == 0) return true;
            if (rc / -100 == Native.KindMismatch) return false;
            throw Native.Refusal(rc);
        }

        /// <summary>Whether stored should be replaced by a fresh HashPassword
        /// at the next successful login: it is not in the PHC form, or has
        /// fewer iterations than asked for.</summary>
        public static bool NeedsRehash(string stored, int iterations = DefaultIterations)
        {
            byte[] storedC = StoredText(stored, "NeedsRehash");
            if (iterations < 1 || iterations > MaxIterations)
                throw new ArgumentOutOfRangeException("iterations", iterations,
                                                      "NeedsRehash: iterations must be from 1 to " + MaxIterations);
            int rc = Native.Fns.keldo_password_needs_rehash(storedC, (uint)iterations);
            if (rc < 0) throw Native.Refusal(rc);
            return rc == 1;
        }

        static byte[] StoredText(string stored, string fn)
        {
            if (stored == null) throw new ArgumentNullException("stored", fn + ": stored hash is null");
            // A NUL would end the C text early; such a string is no hash.
            if (stored.IndexOf('\0') >= 0) throw new MalformedHashException(fn + ": stored hash holds a NUL character");
            try
            {
                return Checks.CString(Checks.Utf8(stored, fn + ": stored"));
            }
            catch (KeldoArgumentException)
            {
                throw new MalformedHashException(fn + ": stored hash is not well-formed Unicode text");
            }
        }
    }

    static class Checks
    {
        static readonly UTF8Encoding StrictUtf8 = new UTF8Encoding(false, true);

        // what is "Function: parameter"; the parameter is the exception's name.
        internal static void NotNull(object value, string what)
        {
            if (value == null)
            {
                int colon = what.LastIndexOf(": ", StringComparison.Ordinal);
                throw new ArgumentNullException(colon < 0 ? what : what.Substring(colon + 2), what + " is null");
            }
        }

        // A string with a lone surrogate has no UTF-8 form: refused, not
        // silently replaced.
        internal static byte[] Utf8(string value, string what)
        {
            NotNull(value, what);
            try
            {
                return StrictUtf8.GetBytes(value);
            }
            catch (EncoderFallbackException)
            {
                throw new KeldoArgumentException(what + " is not well-formed Unicode text");
            }
        }

        // Any bytes, NUL included: the library takes the secret with its
        // length. Empty is refused, and under 32 bytes unless asked for.
        internal static byte[] Secret(byte[] secret, bool allowShort, string fn)
        {
            NotNull(secret, fn + ": secret");
            if (secret.Length == 0) throw new KeldoArgumentException(fn + ": secret is empty");
            if (secret.Length < KeldoJwt.MinSecretBytes && !allowShort)
                throw new KeldoArgumentException(fn + ": secret is shorter than " + KeldoJwt.MinSecretBytes +
                                                 " bytes (pass allowShortSecret: true to accept it)");
            return secret;
        }

        internal static byte[] CString(byte[] b)
        {
            var c = new byte[b.Length + 1];
            Buffer.BlockCopy(b, 0, c, 0, b.Length);
            return c;
        }

        internal static string Text(byte[] c)
        {
            return Text(c, 0, c.Length);
        }

        // The NUL-terminated text in c[start, start + count).
        internal static string Text(byte[] c, int start, int count)
        {
            int end = Array.IndexOf(c, (byte)0, start, count);
            return Encoding.UTF8.GetString(c, start, (end < 0 ? start + count : end) - start);
        }
    }

    // The C functions, one for one. Text arguments are byte arrays that
    // already end in a NUL (UTF-8, never the platform's ANSI code page);
    // arrays of bytes and integers are pinned for the call, not copied.
    // "keldo_crypto" is what the runtime searches for (keldo_crypto.dll,
    // libkeldo_crypto.so); KeldoCrypto.dll.config maps it to the runtime
    // package's libkeldo_crypto.so.1 for Mono, and Native.Locate falls back
    // to that name through dlopen when the runtime's search finds nothing.
    static class Imports
    {
        const string Lib = "keldo_crypto";

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_secure_compare(byte[] a, byte[] b, ulong len);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_sha256(byte[] data, ulong dataLen, [Out] byte[] digest);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_hmac_sha256(byte[] key, ulong keyLen, byte[] data, ulong dataLen,
                                                            [Out] byte[] mac);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_pbkdf2_sha256(byte[] password, ulong passwordLen, byte[] salt,
                                                              ulong saltLen, uint iterations, [Out] byte[] key,
                                                              ulong keyLen);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64_encode(byte[] data, ulong dataLen, [Out] byte[] text,
                                                              ulong textSize);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64_decode(byte[] text, [Out] byte[] data, ulong dataSize,
                                                              [Out] ulong[] dataLen);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64url_encode(byte[] data, ulong dataLen, [Out] byte[] text,
                                                                 ulong textSize);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64url_decode(byte[] text, [Out] byte[] data, ulong dataSize,
                                                                 [Out] ulong[] dataLen);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_uuid_generate([Out] byte[] text);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern IntPtr keldo_crypto_status_text(int status);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_mint_r(byte[] secret, ulong secretLen, byte[] sub, byte[] email,
                                                    uint ttlSeconds, IntPtr token, ulong tokenSize,
                                                    IntPtr tokenSizeOut);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_verify_r(byte[] secret, ulong secretLen, byte[] token, IntPtr sub,
                                                      IntPtr email, IntPtr exp);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_password_hash(byte[] password, ulong passwordLen, uint iterations,
                                                       [Out] byte[] stored, ulong storedSize);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_password_verify(byte[] password, ulong passwordLen, byte[] stored);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_password_needs_rehash(byte[] stored, uint minIterations);
    }

    // The same functions as delegates, bound either to the imports above or,
    // for a file named by the host or KELDO_CRYPTO_LIBRARY (or found by name
    // when the imports' search fails), to that file: on Windows by loading it
    // first, so that the import finds the module already loaded; elsewhere
    // through dlopen and dlsym, since the runtime's search matches names, not
    // files already loaded.
    sealed class Native
    {
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate int CompareFn(byte[] a, byte[] b, ulong len);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate int Sha256Fn(byte[] data, ulong dataLen, [Out] byte[] digest);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int HmacFn(byte[] key, ulong keyLen, byte[] data, ulong dataLen, [Out] byte[] mac);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int Pbkdf2Fn(byte[] password, ulong passwordLen, byte[] salt, ulong saltLen, uint iterations,
                                       [Out] byte[] key, ulong keyLen);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int EncodeFn(byte[] data, ulong dataLen, [Out] byte[] text, ulong textSize);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int DecodeFn(byte[] text, [Out] byte[] data, ulong dataSize, [Out] ulong[] dataLen);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate int UuidFn([Out] byte[] text);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate IntPtr StatusTextFn(int status);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int MintFn(byte[] secret, ulong secretLen, byte[] sub, byte[] email, uint ttlSeconds,
                                     IntPtr token, ulong tokenSize, IntPtr tokenSizeOut);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int VerifyFn(byte[] secret, ulong secretLen, byte[] token, IntPtr sub, IntPtr email,
                                       IntPtr exp);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int PasswordHashFn(byte[] password, ulong passwordLen, uint iterations, [Out] byte[] stored,
                                             ulong storedSize);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int PasswordVerifyFn(byte[] password, ulong passwordLen, byte[] stored);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int NeedsRehashFn(byte[] stored, uint minIterations);

        internal CompareFn keldo_crypto_secure_compare;
        internal Sha256Fn keldo_crypto_sha256;
        internal HmacFn keldo_crypto_hmac_sha256;
        internal Pbkdf2Fn keldo_crypto_pbkdf2_sha256;
        internal EncodeFn keldo_crypto_base64_encode;
        internal DecodeFn keldo_crypto_base64_decode;
        internal EncodeFn keldo_crypto_base64url_encode;
        internal DecodeFn keldo_crypto_base64url_decode;
        internal UuidFn keldo_crypto_uuid_generate;
        internal StatusTextFn keldo_crypto_status_text;
        internal MintFn keldo_jwt_mint_r;
        internal VerifyFn keldo_jwt_verify_r;
        internal PasswordHashFn keldo_password_hash;
        internal PasswordVerifyFn keldo_password_verify;
        internal NeedsRehashFn keldo_password_needs_rehash;

        // The library's status kinds (-status / 100), as its header numbers them.
        internal const int KindInvalidArgument = 1;
        internal const int KindMalformed = 3;
        internal const int KindBadSignature = 4;
        internal const int KindExpired = 5;
        internal const int KindNotYetValid = 6;
        internal const int KindInvalidClaims = 7;
        internal const int KindMismatch = 8;
        internal const int KindMalformedHash = 9;
        const int SignatureFormat = -304;

        static Native bound;
        static string boundFrom;

        internal static Native Fns
        {
            get { return Volatile.Read(ref bound) ?? Bind(null); }
        }

        // The library's fixed text for a status (static storage in the library).
        internal static string StatusText(int status)
        {
            IntPtr p = Fns.keldo_crypto_status_text(status);
            return p == IntPtr.Zero ? "unknown status" : CopyText(p);
        }

        // The exception for a negative status. An unknown kind (buffer too
        // small, internal failure, a newer library's kind) is still a refusal.
        internal static Exception Refusal(int status)
        {
            string m = StatusText(status);
            // A signature that cannot be one is a bad signature, as in the
            // other bindings, though the library counts it as malformed.
            if (status == SignatureFormat) return new BadSignatureException(m);
            switch (status / -100)
            {
                case KindInvalidArgument: return new KeldoArgumentException(m);
                case KindMalformed: return new MalformedTokenException(m);
                case KindBadSignature: return new BadSignatureException(m);
                case KindExpired: return new TokenExpiredException(m);
                case KindNotYetValid: return new TokenNotYetValidException(m);
                case KindInvalidClaims: return new InvalidClaimsException(m);
                case KindMalformedHash: return new MalformedHashException(m);
                default: return new KeldoLibraryException(m);
            }
        }

        internal static string CopyText(IntPtr p)
        {
            int n = 0;
            while (Marshal.ReadByte(p, n) != 0) n++;
            var b = new byte[n];
            Marshal.Copy(p, b, 0, n);
            return Encoding.UTF8.GetString(b);
        }

        // path: the host's choice, or null. No lock: two threads that bind at
        // once load the same file and either result serves; the first stays.
        internal static Native Bind(string path)
        {
            Native current = Volatile.Read(ref bound);
            if (current != null)
            {
                if (path != null && Path.GetFullPath(path) != boundFrom)
                    throw new KeldoArgumentException("LoadLibrary: the library is already loaded from " +
                                                     (boundFrom ?? "the runtime's search for keldo_crypto"));
                return current;
            }
            string from;
            Native n = Locate(path, out from);
            if (Interlocked.CompareExchange(ref bound, n, null) == null) boundFrom = from;
            return Volatile.Read(ref bound);
        }

        // Where the library is looked for, in order: the path given, the
        // NuGet package's own library, KELDO_CRYPTO_LIBRARY (a path given or
        // named is used alone: a file named is the file meant), then the runtime's search for "keldo_crypto" (the
        // application's folder, then the system's), then the system loader's
        // search for the runtime package's file name.
        static Native Locate(string path, out string from)
        {
            if (path == null)
            {
                Native packaged = FromPackage(out from);
                if (packaged != null) return packaged;
                path = Environment.GetEnvironmentVariable("KELDO_CRYPTO_LIBRARY");
            }
            if (!string.IsNullOrEmpty(path))
            {
                from = Path.GetFullPath(path);
                return FromFile(from, true);
            }
            from = null;
            var tried = new StringBuilder();
            try
            {
                Imports.keldo_crypto_status_text(0);
                return FromImports();
            }
            catch (DllNotFoundException e)
            {
                tried.Append("keldo_crypto (the runtime's search): " + e.Message);
            }
            catch (EntryPointNotFoundException e)
            {
                throw new KeldoLibraryNotFoundException(
                    "keldo-crypto: the keldo_crypto library found is older than 1.1 (" + e.Message + ")");
            }
            if (Path.DirectorySeparatorChar == '/')
            {
                string name = Environment.OSVersion.Platform == PlatformID.MacOSX ? "libkeldo_crypto.1.dylib"
                                                                                  : "libkeldo_crypto.so.1";
                try
                {
                    return FromFile(name, false);
                }
                catch (KeldoLibraryNotFoundException e)
                {
                    tried.Append("; " + e.Message);
                }
            }
            throw new KeldoLibraryNotFoundException(
                "keldo-crypto: cannot load the native library. Install it (the runtime package, or cmake --install " +
                "and ldconfig), set KELDO_CRYPTO_LIBRARY to its file, or call KeldoCrypto.LoadLibrary(path) before " +
                "first use. Tried: " + tried);
        }

        // A file by path (checked to exist), or by name through the system
        // loader's search.
        static Native FromFile(string file, bool isPath)
        {
            if (isPath && !File.Exists(file))
                throw new KeldoLibraryNotFoundException("keldo-crypto: no such file: " + file +
                                                        " (named by LoadLibrary or KELDO_CRYPTO_LIBRARY)");
            if (Path.DirectorySeparatorChar == '\\')
            {
                if (LoadLibraryW(file) == IntPtr.Zero)
                    throw new KeldoLibraryNotFoundException("keldo-crypto: cannot load " + file + " (error " +
                                                            Marshal.GetLastWin32Error() + ")");
                return FromImports();
            }
            return FromHandle(DlOpen(file), file);
        }

        // The library a NuGet package carries for this platform, with the
        // yyjson it links: runtimes/<rid>/native/ beside this assembly (a
        // .NET build's output) or two folders up (lib/<tfm>/ in the unpacked
        // package, where Mono and a plain reference find it). It is tried
        // before KELDO_CRYPTO_LIBRARY and the runtime's search; one that
        // does not load here (another processor) is passed over.
        static Native FromPackage(out string file)
        {
            file = null;
            bool windows = Path.DirectorySeparatorChar == '\\';
            if (IntPtr.Size != 8) return null;
            string rid = windows ? "win-x64" : "linux-x64";
            string name = windows ? "keldo_crypto.dll" : "libkeldo_crypto.so";
            string here;
            try
            {
                here = Path.GetDirectoryName(typeof(Native).Assembly.Location);
            }
            catch (NotSupportedException)
            {
                return null;
            }
            if (string.IsNullOrEmpty(here)) return null;
            foreach (string root in new[] { here, Path.Combine(here, "..", "..") })
            {
                string dir = Path.GetFullPath(Path.Combine(root, "runtimes", rid, "native"));
                string full = Path.Combine(dir, name);
                if (!File.Exists(full)) continue;
                if (windows)
                {
                    // Windows looks for a DLL's imports beside the program,
                    // not beside the DLL: yyjson is loaded first, and the
                    // import then finds it loaded.
                    string yyjson = Path.Combine(dir, "libyyjson.dll");
                    if (File.Exists(yyjson)) LoadLibraryW(yyjson);
                    if (LoadLibraryW(full) == IntPtr.Zero) continue;
                    file = full;
                    return FromImports();
                }
                try
                {
                    Native n = FromHandle(DlOpen(full), full);
                    file = full;
                    return n;
                }
                catch (KeldoLibraryNotFoundException)
                {
                }
            }
            return null;
        }

        static Native FromImports()
        {
            return new Native {
                keldo_crypto_secure_compare = Imports.keldo_crypto_secure_compare,
                keldo_crypto_sha256 = Imports.keldo_crypto_sha256,
                keldo_crypto_hmac_sha256 = Imports.keldo_crypto_hmac_sha256,
                keldo_crypto_pbkdf2_sha256 = Imports.keldo_crypto_pbkdf2_sha256,
                keldo_crypto_base64_encode = Imports.keldo_crypto_base64_encode,
                keldo_crypto_base64_decode = Imports.keldo_crypto_base64_decode,
                keldo_crypto_base64url_encode = Imports.keldo_crypto_base64url_encode,
                keldo_crypto_base64url_decode = Imports.keldo_crypto_base64url_decode,
                keldo_crypto_uuid_generate = Imports.keldo_crypto_uuid_generate,
                keldo_crypto_status_text = Imports.keldo_crypto_status_text,
                keldo_jwt_mint_r = Imports.keldo_jwt_mint_r,
                keldo_jwt_verify_r = Imports.keldo_jwt_verify_r,
                keldo_password_hash = Imports.keldo_password_hash,
                keldo_password_verify = Imports.keldo_password_verify,
                keldo_password_needs_rehash = Imports.keldo_password_needs_rehash,
            };
        }

        static Native FromHandle(IntPtr h, string file)
        {
            return new Native {
                keldo_crypto_secure_compare = Sym<CompareFn>(h, file, "keldo_crypto_secure_compare"),
                keldo_crypto_sha256 = Sym<Sha256Fn>(h, file, "keldo_crypto_sha256"),
                keldo_crypto_hmac_sha256 = Sym<HmacFn>(h, file, "keldo_crypto_hmac_sha256"),
                keldo_crypto_pbkdf2_sha256 = Sym<Pbkdf2Fn>(h, file, "keldo_crypto_pbkdf2_sha256"),
                keldo_crypto_base64_encode = Sym<EncodeFn>(h, file, "keldo_crypto_base64_encode"),
                keldo_crypto_base64_decode = Sym<DecodeFn>(h, file, "keldo_crypto_base64_decode"),
                keldo_crypto_base64url_encode = Sym<EncodeFn>(h, file, "keldo_crypto_base64url_encode"),
                keldo_crypto_base64url_decode = Sym<DecodeFn>(h, file, "keldo_crypto_base64url_decode"),
                keldo_crypto_uuid_generate = Sym<UuidFn>(h, file, "keldo_crypto_uuid_generate"),
                keldo_crypto_status_text = Sym<StatusTextFn>(h, file, "keldo_crypto_status_text"),
                keldo_jwt_mint_r = Sym<MintFn>(h, file, "keldo_jwt_mint_r"),
                keldo_jwt_verify_r = Sym<VerifyFn>(h, file, "keldo_jwt_verify_r"),
                keldo_password_hash = Sym<PasswordHashFn>(h, file, "keldo_password_hash"),
                keldo_password_verify = Sym<PasswordVerifyFn>(h, file, "keldo_password_verify"),
                keldo_password_needs_rehash = Sym<NeedsRehashFn>(h, file, "keldo_password_needs_rehash"),
            };
        }

        static T Sym<T>(IntPtr handle, string file, string name) where T : class
        {
            IntPtr p = DlSym(handle, name);
            if (p == IntPtr.Zero)
                throw new KeldoLibraryNotFoundException("keldo-crypto: " + file + " does not export " + name +
                                                        " (not keldo-crypto 1.1 or later)");
            return (T)(object)Marshal.GetDelegateForFunctionPointer(p, typeof(T));
        }

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);

        const int RTLD_NOW = 2;

        // glibc before 2.34 keeps dlopen in libdl; later ones in libc as well.
        [DllImport("libdl.so.2", EntryPoint = "dlopen")] static extern IntPtr dlopen_libdl(string path, int flags);
        [DllImport("libdl.so.2", EntryPoint = "dlsym")] static extern IntPtr dlsym_libdl(IntPtr handle, string name);
        [DllImport("libdl.so.2", EntryPoint = "dlerror")] static extern IntPtr dlerror_libdl();
        [DllImport("libc", EntryPoint = "dlopen")] static extern IntPtr dlopen_libc(string path, int flags);
        [DllImport("libc", EntryPoint = "dlsym")] static extern IntPtr dlsym_libc(IntPtr handle, string name);
        [DllImport("libc", EntryPoint = "dlerror")] static extern IntPtr dlerror_libc();

        static bool useLibc;

        static IntPtr DlOpen(string path)
        {
            IntPtr h;
            try
            {
                h = dlopen_libdl(path, RTLD_NOW);
            }
            catch (DllNotFoundException)
            {
                useLibc = true;
                h = dlopen_libc(path, RTLD_NOW);
            }
            if (h == IntPtr.Zero)
            {
                IntPtr e = useLibc ? dlerror_libc() : dlerror_libdl();
                throw new KeldoLibraryNotFoundException("keldo-crypto: cannot load " + path +
                                                        (e == IntPtr.Zero ? "" : ": " + CopyText(e)));
            }
            return h;
        }

        static IntPtr DlSym(IntPtr handle, string name)
        {
            return useLibc ? dlsym_libc(handle, name) : dlsym_libdl(handle, name);
        }
    }
}
