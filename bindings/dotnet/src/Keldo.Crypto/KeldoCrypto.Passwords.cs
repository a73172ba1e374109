using System;
using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    public static unsafe partial class KeldoCrypto
    {
        /// <summary>The iteration count new hashes get by default (OWASP's
        /// figure for PBKDF2-HMAC-SHA256).</summary>
        public const int DefaultIterations = 600000;

        /// <summary>The most iterations the library accepts.</summary>
        public const int MaxIterations = 100000000;

        internal const int MaxPasswordBytes = 4096;
        internal const int PasswordHashMax = 256;  // the longest hash string the library writes, NUL included

        /// <summary>$pbkdf2-sha256$i=N$SALT$HASH with a random 16-byte salt
        /// (SALT and HASH unpadded standard Base64).</summary>
        public static string HashPassword(string password, int iterations = DefaultIterations)
        {
            Text.NotNull(password, "HashPassword: password");
            byte[] pw = Text.Utf8(password, "HashPassword: password");
            try
            {
                return HashPassword(new ReadOnlySpan<byte>(pw), iterations);
            }
            finally
            {
                Array.Clear(pw, 0, pw.Length);
            }
        }

        /// <summary>As <see cref="HashPassword(string, int)"/> with the
        /// password's bytes (UTF-8 by convention), read in place.</summary>
        public static string HashPassword(ReadOnlySpan<byte> password, int iterations = DefaultIterations)
        {
            if (password.IsEmpty) throw new KeldoArgumentException("HashPassword: the password is empty");
            if (password.Length > MaxPasswordBytes)
                throw new KeldoArgumentException("HashPassword: password is longer than " + MaxPasswordBytes + " bytes");
            CheckIterations(iterations, "HashPassword");
            byte* stored = stackalloc byte[PasswordHashMax];
            int rc;
            fixed (byte* p = password)
                rc = NativeMethods.keldo_password_hash(p, (ulong)password.Length, (uint)iterations, stored, PasswordHashMax);
            if (rc != 0) throw Status.Refusal(rc);
            return Text.FromC(new ReadOnlySpan<byte>(stored, PasswordHashMax));
        }

        /// <summary>Checks password against a stored PBKDF2-HMAC-SHA256 hash in
        /// any form the library reads: PHC ($pbkdf2-sha256$i=N$SALT$HASH),
        /// Django (pbkdf2_sha256$N$SALT$HASH), passlib ($pbkdf2-sha256$N$...)
        /// or Werkzeug (pbkdf2:sha256:N$SALT$HEXHASH). A password over 4096
        /// bytes never matches; a stored string that is no usable hash throws
        /// <see cref="MalformedHashException"/>.</summary>
        public static bool VerifyPassword(string password, string stored)
        {
            Text.NotNull(password, "VerifyPassword: password");
            byte[] pw = Text.Utf8(password, "VerifyPassword: password");
            try
            {
                return VerifyPassword(new ReadOnlySpan<byte>(pw), stored);
            }
            finally
            {
                Array.Clear(pw, 0, pw.Length);
            }
        }

        /// <summary>As <see cref="VerifyPassword(string, string)"/> with the
        /// password's bytes, read in place.</summary>
        public static bool VerifyPassword(ReadOnlySpan<byte> password, string stored)
        {
            byte[] storedC = StoredText(stored, "VerifyPassword");
            int rc;
            fixed (byte* p = password)
            fixed (byte* s = storedC)
                rc = NativeMethods.keldo_password_verify(p == null ? s : p, (ulong)password.Length, s);
            if (rc == 0) return true;
            if (Status.Kind(rc) == Status.KindMismatch) return false;
            throw Status.Refusal(rc);
        }

        /// <summary>Whether stored should be replaced by a fresh HashPassword
        /// at the next successful login: it is not in the PHC form, or has
        /// fewer iterations than asked for.</summary>
        public static bool NeedsRehash(string stored, int iterations = DefaultIterations)
        {
            byte[] storedC = StoredText(stored, "NeedsRehash");
            CheckIterations(iterations, "NeedsRehash");
            int rc;
            fixed (byte* s = storedC)
                rc = NativeMethods.keldo_password_needs_rehash(s, (uint)iterations);
            if (rc < 0) throw Status.Refusal(rc);
            return rc == 1;
        }

        static void CheckIterations(int iterations, string fn)
        {
            if (iterations < 1 || iterations > MaxIterations)
                throw new ArgumentOutOfRangeException(nameof(iterations), iterations,
                                                      fn + ": iterations must be from 1 to " + MaxIterations);
        }

        static byte[] StoredText(string stored, string fn)
        {
            if (stored == null) throw new ArgumentNullException(nameof(stored), fn + ": stored hash is null");
            // A NUL would end the C text early; such a string is no hash.
            if (stored.IndexOf('\0') >= 0) throw new MalformedHashException(fn + ": stored hash holds a NUL character");
            var c = new byte[Text.MaxBytes(stored.Length)];
            try
            {
                Text.ToC(stored, c, fn + ": stored");
            }
            catch (KeldoArgumentException)
            {
                throw new MalformedHashException(fn + ": stored hash is not well-formed Unicode text");
            }
            return c;
        }
    }
}
