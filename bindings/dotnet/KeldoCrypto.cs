// keldo-crypto for .NET: HS256 tokens, PBKDF2 password hashes, SHA-256, HMAC,
// Base64 and UUIDs over the keldo_crypto shared library (keldo_crypto.dll on
// Windows, libkeldo_crypto.so on Linux). One source file, C# 6, no unsafe
// code: it builds with Mono's mcs and with any .NET SDK.
//
// The library keeps two process-wide buffers, the token written by
// keldo_jwt_mint and the last-error text. One lock (Native.Gate) is held
// around each call that can write the error text together with its read of
// it, and around keldo_jwt_mint together with the copy of its token. Calls
// that cannot fail with the arguments checked here run without it.
using System;
using System.IO;
using System.Runtime.InteropServices;
using System.Security.Cryptography;
using System.Text;

namespace Keldo.Crypto
{
    /// <summary>Base of every refusal and failure of keldo-crypto.</summary>
    public class KeldoException : Exception
    {
        public KeldoException(string message) : base(message) { }
    }

    /// <summary>An argument refused before or by the library.</summary>
    public class KeldoArgumentException : KeldoException
    {
        public KeldoArgumentException(string message) : base(message) { }
    }

    /// <summary>The library failed for a reason other than its input (memory,
    /// the random source).</summary>
    public class KeldoLibraryException : KeldoException
    {
        public KeldoLibraryException(string message) : base(message) { }
    }

    /// <summary>Base of every reason a token is refused.</summary>
    public class TokenException : KeldoException
    {
        public TokenException(string message) : base(message) { }
    }

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
        /// <summary>Expiry in seconds since 1970-01-01 UTC.</summary>
        public long Exp { get; }
    }

    /// <summary>HS256 tokens with the claims sub, email, iss, exp and nbf.</summary>
    public static class KeldoJwt
    {
        public const int MinSecretBytes = 32;
        const int SubCapacity = 64;    // the verifier's buffers, NUL included
        const int EmailCapacity = 128;

        /// <summary>A token for sub (under 64 UTF-8 bytes) and email (under
        /// 128), valid from now for ttlSeconds. A secret under 32 bytes is
        /// refused unless allowShortSecret.</summary>
        public static string Mint(byte[] secret, string sub, string email, uint ttlSeconds = 3600,
                                  bool allowShortSecret = false)
        {
            byte[] key = Checks.Secret(secret, allowShortSecret, "Mint");
            byte[] subC = ClaimText(sub, "sub", SubCapacity);
            byte[] emailC = ClaimText(email, "email", EmailCapacity);
            lock (Native.Gate)
            {
                IntPtr token = Native.Fns.keldo_jwt_mint(key, subC, emailC, ttlSeconds);
                if (token == IntPtr.Zero) throw new KeldoLibraryException(Native.Fns.LastError());
                return Native.CopyText(token);
            }
        }

        public static string Mint(string secret, string sub, string email, uint ttlSeconds = 3600,
                                  bool allowShortSecret = false)
        {
            return Mint(Checks.Utf8(secret, "Mint: secret"), sub, email, ttlSeconds, allowShortSecret);
        }

        /// <summary>Verifies token against secret and the clock; throws a
        /// TokenException subclass when it is refused.</summary>
        public static KeldoClaims Verify(byte[] secret, string token, bool allowShortSecret = false)
        {
            byte[] key = Checks.Secret(secret, allowShortSecret, "Verify");
            if (token == null) throw new KeldoArgumentException("Verify: token is null");
            if (token.IndexOf('\0') >= 0) throw new MalformedTokenException("Verify: token holds a NUL character");
            byte[] tokenC = Checks.CString(Checks.Utf8(token, "Verify: token"));
            var sub = new byte[SubCapacity];
            var email = new byte[EmailCapacity];
            var exp = new long[1];
            string message = null;
            lock (Native.Gate)
            {
                if (Native.Fns.keldo_jwt_verify(key, tokenC, sub, email, exp) != 0) message = Native.Fns.LastError();
            }
            if (message != null) throw Refusal(message);
            return new KeldoClaims(Checks.Text(sub), Checks.Text(email), exp[0]);
        }

        public static KeldoClaims Verify(string secret, string token, bool allowShortSecret = false)
        {
            return Verify(Checks.Utf8(secret, "Verify: secret"), token, allowShortSecret);
        }

        static byte[] ClaimText(string value, string name, int capacity)
        {
            byte[] b = Checks.Utf8(value, "Mint: " + name);
            if (Array.IndexOf(b, (byte)0) >= 0) throw new KeldoArgumentException("Mint: " + name + " holds a NUL character");
            if (b.Length >= capacity)
                throw new KeldoArgumentException("Mint: " + name + " is " + capacity + " UTF-8 bytes or longer");
            return Checks.CString(b);
        }

        // keldo_jwt_verify's messages, by the text after "jwt_verify: ".
        static readonly string[] Malformed = {
            "malformed token", "payload segment too long", "base64url decode payload failed",
            "invalid payload JSON", "payload root is not an object" };
        static readonly string[] Signature = { "invalid signature format or length", "signature verification failed" };
        static readonly string[] Claims = {
            "invalid or missing 'iss' claim", "missing 'exp' claim", "missing 'sub' claim",
            "invalid 'sub' claim", "missing 'email' claim", "invalid 'email' claim" };

        internal static KeldoException Refusal(string message)
        {
            const string prefix = "jwt_verify: ";
            string reason = message.StartsWith(prefix, StringComparison.Ordinal) ? message.Substring(prefix.Length) : "";
            if (StartsWithAny(reason, Malformed)) return new MalformedTokenException(message);
            if (StartsWithAny(reason, Signature)) return new BadSignatureException(message);
            if (reason.StartsWith("token has expired", StringComparison.Ordinal)) return new TokenExpiredException(message);
            if (reason.StartsWith("token is not valid yet", StringComparison.Ordinal)) return new TokenNotYetValidException(message);
            if (StartsWithAny(reason, Claims)) return new InvalidClaimsException(message);
            if (reason.StartsWith("null secret or token", StringComparison.Ordinal)) return new KeldoArgumentException(message);
            // Never success: an unknown text still refuses the token.
            return new KeldoLibraryException(message);
        }

        static bool StartsWithAny(string s, string[] prefixes)
        {
            foreach (string p in prefixes)
                if (s.StartsWith(p, StringComparison.Ordinal)) return true;
            return false;
        }
    }

    /// <summary>Hashes, key derivation, encodings, identifiers, comparison
    /// and password hash strings.</summary>
    public static class KeldoCrypto
    {
        // The command-line tool's bounds for password hashes.
        public const int DefaultIterations = 600000;   // OWASP's figure for PBKDF2-HMAC-SHA256
        public const int MaxIterations = 100000000;
        const int SaltBytes = 16;
        const int HashBytes = 32;
        const int MaxPasswordBytes = 4096;
        const int MaxField = 1024;

        /// <summary>Loads the library from path before its first use; without
        /// a call, the NuGet package's runtimes/&lt;rid&gt;/native/ library,
        /// KELDO_CRYPTO_LIBRARY, this assembly's folder, then the system
        /// loader are used.</summary>
        public static void LoadLibrary(string path)
        {
            if (path == null) throw new KeldoArgumentException("LoadLibrary: path is null");
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
            if (text == null) throw new KeldoArgumentException(fn + ": text is null");
            if (text.IndexOf('\0') >= 0) throw new KeldoArgumentException(fn + ": text holds a NUL character");
            byte[] input = Checks.CString(Checks.Utf8(text, fn + ": text"));
            var output = new byte[(input.Length - 1) / 4 * 3 + 3];
            var length = new ulong[1];
            string message = null;
            lock (Native.Gate)
            {
                int rc = url ? Native.Fns.keldo_crypto_base64url_decode(input, output, (ulong)output.Length, length)
                             : Native.Fns.keldo_crypto_base64_decode(input, output, (ulong)output.Length, length);
                if (rc != 0) message = Native.Fns.LastError();
            }
            if (message != null) throw new KeldoArgumentException(message);
            Array.Resize(ref output, (int)length[0]);
            return output;
        }

        /// <summary>A random version 4 UUID, 36 lowercase characters.</summary>
        public static string Uuid4()
        {
            var text = new byte[37];
            lock (Native.Gate)
            {
                if (Native.Fns.keldo_crypto_uuid_generate(text) != 0) throw new KeldoLibraryException(Native.Fns.LastError());
            }
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
            byte[] pw = PasswordBytes(password, "HashPassword");
            if (pw.Length == 0) throw new KeldoArgumentException("HashPassword: the password is empty");
            if (iterations < 1 || iterations > MaxIterations)
                throw new KeldoArgumentException("HashPassword: iterations must be from 1 to " + MaxIterations);
            var salt = new byte[SaltBytes];
            using (var rng = RandomNumberGenerator.Create()) rng.GetBytes(salt);
            byte[] key = Pbkdf2Sha256(pw, salt, (uint)iterations, HashBytes);
            string stored = "$pbkdf2-sha256$i=" + iterations + "$" + Base64Encode(salt).TrimEnd('=') + "$" +
                            Base64Encode(key).TrimEnd('=');
            Array.Clear(key, 0, key.Length);
            return stored;
        }

        /// <summary>Checks password against a PHC ($pbkdf2-sha256$i=N$SALT$HASH)
        /// or Django (pbkdf2_sha256$N$SALT$HASH) string. A string that is
        /// neither, or whose key is not 32 bytes, is refused with a
        /// KeldoArgumentException, not compared.</summary>
        public static bool VerifyPassword(string password, string stored)
        {
            byte[] pw = PasswordBytes(password, "VerifyPassword");
            if (stored == null) throw new KeldoArgumentException("VerifyPassword: stored hash is null");
            string s = stored.TrimEnd(' ', '\t');
            string[] f = s.Split('$');
            uint iterations;
            byte[] salt;
            byte[] expected;
            if (s.StartsWith("$pbkdf2-sha256$", StringComparison.Ordinal))
            {
                if (f.Length != 5 || !f[2].StartsWith("i=", StringComparison.Ordinal) ||
                    !ParseIterations(f[2].Substring(2), out iterations))
                    throw NotAHash("not a valid $pbkdf2-sha256$i=N$SALT$HASH string");
                salt = Base64Field(f[3], false);
                expected = Base64Field(f[4], false);
                if (salt == null || expected == null)
                    throw NotAHash("salt or hash of the $pbkdf2-sha256$ string is not unpadded Base64");
                if (expected.Length != HashBytes) throw NotAHash("hash of the $pbkdf2-sha256$ string is not 32 bytes");
            }
            else if (s.StartsWith("pbkdf2_sha256$", StringComparison.Ordinal))
            {
                // Django: the salt is used as its text; HASH is padded Base64.
                if (f.Length != 4 || !ParseIterations(f[1], out iterations) || f[2].Length == 0 || f[2].Length > MaxField)
                    throw NotAHash("not a valid pbkdf2_sha256$N$SALT$HASH string");
                salt = Checks.Utf8(f[2], "VerifyPassword: salt");
                expected = Base64Field(f[3], true);
                if (expected == null || expected.Length != HashBytes)
                    throw NotAHash("hash of the pbkdf2_sha256$ string is not Base64 of 32 bytes");
            }
            else
            {
                throw NotAHash("unrecognised hash; expected $pbkdf2-sha256$i=N$SALT$HASH or pbkdf2_sha256$N$SALT$HASH");
            }
            byte[] key = Pbkdf2Sha256(pw, salt, iterations, HashBytes);
            bool match = Native.Fns.keldo_crypto_secure_compare(key, expected, HashBytes) == 0;
            Array.Clear(key, 0, key.Length);
            return match;
        }

        static byte[] PasswordBytes(string password, string fn)
        {
            byte[] pw = Checks.Utf8(password, fn + ": password");
            if (pw.Length > MaxPasswordBytes)
                throw new KeldoArgumentException(fn + ": password is longer than " + MaxPasswordBytes + " bytes");
            return pw;
        }

        static KeldoArgumentException NotAHash(string detail)
        {
            return new KeldoArgumentException("VerifyPassword: " + detail);
        }

        static bool ParseIterations(string text, out uint value)
        {
            value = 0;
            if (text.Length == 0 || text.Length > 9) return false;
            foreach (char c in text)
            {
                if (c < '0' || c > '9') return false;
                value = value * 10 + (uint)(c - '0');
            }
            return value >= 1 && value <= MaxIterations;
        }

        // A field of standard Base64, unpadded (or padded when padOk), in its
        // one canonical spelling; null when it is not.
        static byte[] Base64Field(string field, bool padOk)
        {
            if (field.Length == 0 || field.Length > MaxField) return null;
            string body = padOk ? field.TrimEnd('=') : field;
            int pad = field.Length - body.Length;
            if (pad > 2 || (pad > 0 && field.Length % 4 != 0)) return null;
            foreach (char c in body)
            {
                bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
                if (!ok) return null;
            }
            byte[] decoded;
            try
            {
                decoded = Base64Decode(field);
            }
            catch (KeldoArgumentException)
            {
                return null;
            }
            string again = Base64Encode(decoded);
            if (pad == 0) again = again.TrimEnd('=');
            return again == field ? decoded : null;
        }
    }

    static class Checks
    {
        static readonly UTF8Encoding StrictUtf8 = new UTF8Encoding(false, true);

        internal static void NotNull(object value, string what)
        {
            if (value == null) throw new KeldoArgumentException(what + " is null");
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

        // The library reads the secret as a C string: a NUL would cut it short.
        internal static byte[] Secret(byte[] secret, bool allowShort, string fn)
        {
            NotNull(secret, fn + ": secret");
            if (secret.Length == 0) throw new KeldoArgumentException(fn + ": secret is empty");
            if (Array.IndexOf(secret, (byte)0) >= 0) throw new KeldoArgumentException(fn + ": secret holds a NUL byte");
            if (secret.Length < KeldoJwt.MinSecretBytes && !allowShort)
                throw new KeldoArgumentException(fn + ": secret is shorter than " + KeldoJwt.MinSecretBytes +
                                                 " bytes (pass allowShortSecret: true to accept it)");
            return CString(secret);
        }

        internal static byte[] CString(byte[] b)
        {
            var c = new byte[b.Length + 1];
            Buffer.BlockCopy(b, 0, c, 0, b.Length);
            return c;
        }

        internal static string Text(byte[] c)
        {
            int end = Array.IndexOf(c, (byte)0);
            return Encoding.UTF8.GetString(c, 0, end < 0 ? c.Length : end);
        }
    }

    // The C functions, one for one. Text arguments are byte arrays
    // that already end in a NUL (UTF-8, never the platform's ANSI code page);
    // arrays of bytes and integers are pinned for the call, not copied.
    static class Imports
    {
        const string Lib = "keldo_crypto";

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern IntPtr keldo_crypto_last_error();

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
        internal static extern IntPtr keldo_jwt_mint(byte[] secret, byte[] sub, byte[] email, uint ttlSeconds);

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_verify(byte[] secret, byte[] token, [Out] byte[] sub, [Out] byte[] email,
                                                    [Out] long[] exp);
    }

    // The same functions as delegates, bound either to the imports above
    // (the runtime's search for "keldo_crypto": this assembly's folder, then
    // the system's) or, for a file named by the host or KELDO_CRYPTO_LIBRARY,
    // to that file: on Windows by loading it first, so that the import finds
    // the module already loaded; elsewhere through dlopen and dlsym, since
    // the runtime's search matches names, not files already loaded.
    // keldo_verify_password_hash is left out: the string comparisons here
    // go through keldo_crypto_secure_compare, which never writes the error
    // text.
    sealed class Native
    {
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate IntPtr LastErrorFn();
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
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate IntPtr MintFn(byte[] secret, byte[] sub, byte[] email, uint ttlSeconds);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
        internal delegate int VerifyFn(byte[] secret, byte[] token, [Out] byte[] sub, [Out] byte[] email, [Out] long[] exp);

        internal LastErrorFn keldo_crypto_last_error;
        internal CompareFn keldo_crypto_secure_compare;
        internal Sha256Fn keldo_crypto_sha256;
        internal HmacFn keldo_crypto_hmac_sha256;
        internal Pbkdf2Fn keldo_crypto_pbkdf2_sha256;
        internal EncodeFn keldo_crypto_base64_encode;
        internal DecodeFn keldo_crypto_base64_decode;
        internal EncodeFn keldo_crypto_base64url_encode;
        internal DecodeFn keldo_crypto_base64url_decode;
        internal UuidFn keldo_crypto_uuid_generate;
        internal MintFn keldo_jwt_mint;
        internal VerifyFn keldo_jwt_verify;

        // Held around each call that can write the error text together with
        // its read, and around keldo_jwt_mint together with the token's copy.
        internal static readonly object Gate = new object();
        static volatile Native bound;
        static string boundFrom;

        internal static Native Fns
        {
            get { return bound ?? Bind(null); }
        }

        // Call with Gate held, right after the failing call.
        internal string LastError() { return CopyText(keldo_crypto_last_error()); }

        internal static string CopyText(IntPtr p)
        {
            int n = 0;
            while (Marshal.ReadByte(p, n) != 0) n++;
            var b = new byte[n];
            Marshal.Copy(p, b, 0, n);
            return Encoding.UTF8.GetString(b);
        }

        // path: the host's choice, or null for KELDO_CRYPTO_LIBRARY, then the
        // runtime's search.
        internal static Native Bind(string path)
        {
            lock (Gate)
            {
                if (bound != null)
                {
                    if (path != null && Path.GetFullPath(path) != boundFrom)
                        throw new KeldoArgumentException("LoadLibrary: the library is already loaded from " +
                                                         (boundFrom ?? "the runtime's search for keldo_crypto"));
                    return bound;
                }
                if (path == null)
                {
                    string packaged;
                    bound = FromPackage(out packaged);
                    if (bound != null)
                    {
                        boundFrom = packaged;
                        return bound;
                    }
                    path = Environment.GetEnvironmentVariable("KELDO_CRYPTO_LIBRARY");
                }
                if (string.IsNullOrEmpty(path))
                {
                    bound = FromImports();
                    return bound;
                }
                string full = Path.GetFullPath(path);
                if (!File.Exists(full)) throw new KeldoArgumentException("LoadLibrary: no such file: " + full);
                if (Path.DirectorySeparatorChar == '\\')
                {
                    if (LoadLibraryW(full) == IntPtr.Zero)
                        throw new KeldoArgumentException("LoadLibrary: cannot load " + full + " (error " +
                                                         Marshal.GetLastWin32Error() + ")");
                    bound = FromImports();
                }
                else
                {
                    bound = FromHandle(DlOpen(full), full);
                }
                boundFrom = full;
                return bound;
            }
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
                catch (KeldoArgumentException)
                {
                }
            }
            return null;
        }

        static Native FromImports()
        {
            return new Native {
                keldo_crypto_last_error = Imports.keldo_crypto_last_error,
                keldo_crypto_secure_compare = Imports.keldo_crypto_secure_compare,
                keldo_crypto_sha256 = Imports.keldo_crypto_sha256,
                keldo_crypto_hmac_sha256 = Imports.keldo_crypto_hmac_sha256,
                keldo_crypto_pbkdf2_sha256 = Imports.keldo_crypto_pbkdf2_sha256,
                keldo_crypto_base64_encode = Imports.keldo_crypto_base64_encode,
                keldo_crypto_base64_decode = Imports.keldo_crypto_base64_decode,
                keldo_crypto_base64url_encode = Imports.keldo_crypto_base64url_encode,
                keldo_crypto_base64url_decode = Imports.keldo_crypto_base64url_decode,
                keldo_crypto_uuid_generate = Imports.keldo_crypto_uuid_generate,
                keldo_jwt_mint = Imports.keldo_jwt_mint,
                keldo_jwt_verify = Imports.keldo_jwt_verify,
            };
        }

        static Native FromHandle(IntPtr h, string file)
        {
            return new Native {
                keldo_crypto_last_error = Sym<LastErrorFn>(h, file, "keldo_crypto_last_error"),
                keldo_crypto_secure_compare = Sym<CompareFn>(h, file, "keldo_crypto_secure_compare"),
                keldo_crypto_sha256 = Sym<Sha256Fn>(h, file, "keldo_crypto_sha256"),
                keldo_crypto_hmac_sha256 = Sym<HmacFn>(h, file, "keldo_crypto_hmac_sha256"),
                keldo_crypto_pbkdf2_sha256 = Sym<Pbkdf2Fn>(h, file, "keldo_crypto_pbkdf2_sha256"),
                keldo_crypto_base64_encode = Sym<EncodeFn>(h, file, "keldo_crypto_base64_encode"),
                keldo_crypto_base64_decode = Sym<DecodeFn>(h, file, "keldo_crypto_base64_decode"),
                keldo_crypto_base64url_encode = Sym<EncodeFn>(h, file, "keldo_crypto_base64url_encode"),
                keldo_crypto_base64url_decode = Sym<DecodeFn>(h, file, "keldo_crypto_base64url_decode"),
                keldo_crypto_uuid_generate = Sym<UuidFn>(h, file, "keldo_crypto_uuid_generate"),
                keldo_jwt_mint = Sym<MintFn>(h, file, "keldo_jwt_mint"),
                keldo_jwt_verify = Sym<VerifyFn>(h, file, "keldo_jwt_verify"),
            };
        }

        static T Sym<T>(IntPtr handle, string file, string name) where T : class
        {
            IntPtr p = DlSym(handle, name);
            if (p == IntPtr.Zero) throw new KeldoArgumentException("LoadLibrary: " + file + " does not export " + name);
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
                throw new KeldoArgumentException("LoadLibrary: cannot load " + path +
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
