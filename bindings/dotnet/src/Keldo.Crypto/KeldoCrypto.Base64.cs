using System;
using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    public static unsafe partial class KeldoCrypto
    {
        /// <summary>Standard Base64 with padding (RFC 4648 section 4).</summary>
        public static string Base64Encode(byte[] data) => Encode(data, false, "Base64Encode: data");

        /// <summary>base64url without padding (RFC 4648 section 5).</summary>
        public static string Base64UrlEncode(byte[] data) => Encode(data, true, "Base64UrlEncode: data");

        /// <summary>Decodes standard Base64 (padding optional; trailing CR,
        /// LF and spaces dropped).</summary>
        public static byte[] Base64Decode(string text) => Decode(text, false);

        /// <summary>Decodes base64url (either alphabet, padding optional).</summary>
        public static byte[] Base64UrlDecode(string text) => Decode(text, true);

        static string Encode(byte[] data, bool url, string what)
        {
            Text.NotNull(data, what);
            var text = new byte[(data.Length + 2) / 3 * 4 + 1];
            int rc;
            fixed (byte* d = data)
            fixed (byte* t = text)
                rc = url ? NativeMethods.keldo_crypto_base64url_encode(d, (ulong)data.Length, t, (ulong)text.Length)
                         : NativeMethods.keldo_crypto_base64_encode(d, (ulong)data.Length, t, (ulong)text.Length);
            if (rc != 0) throw new KeldoLibraryException("Base64 encoding failed in the library");
            return Text.FromC(text);
        }

        static byte[] Decode(string text, bool url)
        {
            string fn = url ? "Base64UrlDecode" : "Base64Decode";
            if (text == null) throw new ArgumentNullException(nameof(text), fn + ": text is null");
            if (text.IndexOf('\0') >= 0) throw new KeldoArgumentException(fn + ": text holds a NUL character");
            var input = new byte[Text.MaxBytes(text.Length)];
            int n = Text.ToC(text, input, fn + ": text");
            var output = new byte[n / 4 * 3 + 3];
            ulong length;
            int rc;
            fixed (byte* i = input)
            fixed (byte* o = output)
                rc = url ? NativeMethods.keldo_crypto_base64url_decode(i, o, (ulong)output.Length, &length)
                         : NativeMethods.keldo_crypto_base64_decode(i, o, (ulong)output.Length, &length);
            // With these arguments the decoders have one refusal, with one
            // fixed text: written here, not read from the shared error text.
            if (rc != 0)
                throw new KeldoArgumentException("keldo_crypto_" + (url ? "base64url" : "base64") +
                                                 "_decode: decode failed or buffer too small");
            Array.Resize(ref output, (int)length);
            return output;
        }
    }
}
