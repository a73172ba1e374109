using System;
using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    /// <summary>Hashes, key derivation, encodings, identifiers, comparison
    /// and password hash strings. Every method is safe to call from any
    /// number of threads at once.</summary>
    public static unsafe partial class KeldoCrypto
    {
        /// <summary>Loads the library from path before its first use (or
        /// accepts the same file again). Without a call, the package's own
        /// library for this platform is used (runtimes/&lt;rid&gt;/native/),
        /// else KELDO_CRYPTO_LIBRARY, the runtime's search for keldo_crypto,
        /// then the system loader's for libkeldo_crypto.so.1.</summary>
        public static void LoadLibrary(string path)
        {
            if (path == null) throw new ArgumentNullException(nameof(path), "LoadLibrary: path is null");
            NativeLoader.Register();
            NativeLoader.Request(path);
        }

        /// <summary>The SHA-256 digest of data.</summary>
        public static byte[] Sha256(byte[] data)
        {
            Text.NotNull(data, "Sha256: data");
            var digest = new byte[32];
            Sha256(data, digest);
            return digest;
        }

        /// <summary>The SHA-256 digest of data into digest (32 bytes or more).</summary>
        public static void Sha256(ReadOnlySpan<byte> data, Span<byte> digest)
        {
            Room(digest, 32, "Sha256: digest");
            fixed (byte* d = data)
            fixed (byte* o = digest)
                if (NativeMethods.keldo_crypto_sha256(d, (ulong)data.Length, o) != 0)
                    throw new KeldoLibraryException("Sha256: the library failed");
        }

        /// <summary>HMAC-SHA256 of data under key.</summary>
        public static byte[] HmacSha256(byte[] key, byte[] data)
        {
            Text.NotNull(key, "HmacSha256: key");
            Text.NotNull(data, "HmacSha256: data");
            var mac = new byte[32];
            HmacSha256(key, data, mac);
            return mac;
        }

        /// <summary>HMAC-SHA256 of data under key into mac (32 bytes or more).</summary>
        public static void HmacSha256(ReadOnlySpan<byte> key, ReadOnlySpan<byte> data, Span<byte> mac)
        {
            Room(mac, 32, "HmacSha256: mac");
            fixed (byte* k = key)
            fixed (byte* d = data)
            fixed (byte* o = mac)
                if (NativeMethods.keldo_crypto_hmac_sha256(k, (ulong)key.Length, d, (ulong)data.Length, o) != 0)
                    throw new KeldoLibraryException("HmacSha256: the library failed");
        }

        /// <summary>PBKDF2-HMAC-SHA256 (RFC 8018) of password and salt:
        /// length bytes.</summary>
        public static byte[] Pbkdf2Sha256(byte[] password, byte[] salt, uint iterations, int length = 32)
        {
            Text.NotNull(password, "Pbkdf2Sha256: password");
            Text.NotNull(salt, "Pbkdf2Sha256: salt");
            if (length < 1) throw new KeldoArgumentException("Pbkdf2Sha256: length must be at least 1");
            var key = new byte[length];
            Pbkdf2Sha256(password, salt, iterations, key);
            return key;
        }

        /// <summary>PBKDF2-HMAC-SHA256 of password and salt, filling key.</summary>
        // The library's own refusals (the only failures that write its error
        // text) are ruled out here; what remains is an allocation failure
        // inside it, which writes none.
        public static void Pbkdf2Sha256(ReadOnlySpan<byte> password, ReadOnlySpan<byte> salt, uint iterations, Span<byte> key)
        {
            if (iterations == 0) throw new KeldoArgumentException("Pbkdf2Sha256: iterations must be at least 1");
            if (key.IsEmpty) throw new KeldoArgumentException("Pbkdf2Sha256: length must be at least 1");
            fixed (byte* p = password)
            fixed (byte* s = salt)
            fixed (byte* k = key)
                if (NativeMethods.keldo_crypto_pbkdf2_sha256(p, (ulong)password.Length, s, (ulong)salt.Length, iterations, k,
                                                              (ulong)key.Length) != 0)
                    throw new KeldoLibraryException("Pbkdf2Sha256: the library could not derive the key (out of memory)");
        }

        /// <summary>Constant-time equality of equal-length inputs; false when
        /// the lengths differ (the length is not secret).</summary>
        public static bool CompareDigest(byte[] a, byte[] b)
        {
            Text.NotNull(a, "CompareDigest: a");
            Text.NotNull(b, "CompareDigest: b");
            return CompareDigest(new ReadOnlySpan<byte>(a), new ReadOnlySpan<byte>(b));
        }

        /// <summary>As <see cref="CompareDigest(byte[], byte[])"/> on spans.</summary>
        public static bool CompareDigest(ReadOnlySpan<byte> a, ReadOnlySpan<byte> b)
        {
            if (a.Length != b.Length) return false;
            if (a.IsEmpty) return true;
            fixed (byte* x = a)
            fixed (byte* y = b)
                return NativeMethods.keldo_crypto_secure_compare(x, y, (ulong)a.Length) == 0;
        }

        /// <summary>A random version 4 UUID, 36 lowercase characters.</summary>
        public static string Uuid4()
        {
            byte* text = stackalloc byte[37];
            // The output is given, so the random source is the only failure.
            if (NativeMethods.keldo_crypto_uuid_generate(text) != 0)
                throw new KeldoLibraryException("keldo_crypto_uuid_generate: CSPRNG generation failed");
            return Text.Ascii(new ReadOnlySpan<byte>(text, 36));
        }

        static void Room(Span<byte> output, int size, string what)
        {
            if (output.Length < size) throw new KeldoArgumentException(what + " must hold " + size + " bytes");
        }
    }
}
