using System;
using System.Text;

namespace Keldo.Crypto.Interop
{
    // UTF-8 to and from the library's NUL-terminated text, without a heap
    // copy where the caller gives a stack buffer.
    internal static unsafe class Text
    {
        // A string with a lone surrogate has no UTF-8 form: refused, not
        // silently replaced.
        internal static readonly UTF8Encoding Strict = new UTF8Encoding(false, true);

        internal static string FromC(IntPtr p)
        {
            if (p == IntPtr.Zero) return "";
            byte* b = (byte*)p;
            int n = 0;
            while (b[n] != 0) n++;
            return Encoding.UTF8.GetString(b, n);
        }

        // The text in buffer up to its first NUL.
        internal static string FromC(ReadOnlySpan<byte> buffer)
        {
            int end = buffer.IndexOf((byte)0);
            if (end < 0) end = buffer.Length;
            if (end == 0) return "";
            fixed (byte* p = buffer) return Encoding.UTF8.GetString(p, end);
        }

        internal static string Ascii(ReadOnlySpan<byte> buffer)
        {
            if (buffer.IsEmpty) return "";
            fixed (byte* p = buffer) return Encoding.ASCII.GetString(p, buffer.Length);
        }

        // The UTF-8 bytes of value into destination, then a NUL; returns the
        // byte count without the NUL. destination must hold
        // MaxBytes(value.Length). Throws KeldoArgumentException for a lone
        // surrogate, naming what.
        internal static int ToC(string value, Span<byte> destination, string what)
        {
            int n;
#if NET8_0_OR_GREATER
            // ASCII (every token the library mints) is its own UTF-8 form:
            // narrowed by the vectorised converter, no encoder needed.
            if (System.Text.Ascii.FromUtf16(value, destination.Slice(0, destination.Length - 1), out n) ==
                System.Buffers.OperationStatus.Done)
            {
                destination[n] = 0;
                return n;
            }
#endif
            fixed (char* c = value)
            fixed (byte* b = destination)
            {
                try
                {
                    n = value.Length == 0 ? 0 : Strict.GetBytes(c, value.Length, b, destination.Length - 1);
                }
                catch (EncoderFallbackException)
                {
                    throw new KeldoArgumentException(what + " is not well-formed Unicode text");
                }
            }
            destination[n] = 0;
            return n;
        }

        // Room for value's UTF-8 form and a NUL.
        internal static int MaxBytes(int chars) => checked(chars * 3 + 1);

        internal static byte[] Utf8(string value, string what)
        {
            try
            {
                return Strict.GetBytes(value);
            }
            catch (EncoderFallbackException)
            {
                throw new KeldoArgumentException(what + " is not well-formed Unicode text");
            }
        }

        // what is "Function: parameter"; the parameter is the exception's name.
        internal static void NotNull(object? value, string what)
        {
            if (value == null)
            {
                int colon = what.LastIndexOf(": ", StringComparison.Ordinal);
                throw new ArgumentNullException(colon < 0 ? what : what.Substring(colon + 2), what + " is null");
            }
        }
    }
}
