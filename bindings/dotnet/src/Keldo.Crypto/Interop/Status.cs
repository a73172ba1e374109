using System;

namespace Keldo.Crypto.Interop
{
    // The library's status codes: kind = -status / 100, as its header numbers them.
    internal static unsafe class Status
    {
        internal const int KindInvalidArgument = 1;
        internal const int KindBufferTooSmall = 2;
        internal const int KindMalformed = 3;
        internal const int KindBadSignature = 4;
        internal const int KindExpired = 5;
        internal const int KindNotYetValid = 6;
        internal const int KindInvalidClaims = 7;
        internal const int KindMismatch = 8;
        internal const int KindMalformedHash = 9;
        internal const int SignatureFormat = -304;
        internal const int KeyNotInitialised = -108;
        internal const int KeyCount = -109;

        internal static int Kind(int status) => status / -100;

        // The library's fixed text for a status (static storage in the library).
        internal static string Text(int status)
        {
            byte* p = NativeMethods.keldo_crypto_status_text(status);
            return p == null ? "unknown status " + status : Interop.Text.FromC((IntPtr)p);
        }

        // The exception for a negative status. An unknown kind (buffer too
        // small, internal failure, a newer library's kind) is still a refusal.
        internal static Exception Refusal(int status)
        {
            string m = Text(status);
            // A signature that cannot be one is a bad signature, as in the
            // other bindings, though the library counts it as malformed.
            if (status == SignatureFormat) return new BadSignatureException(m);
            switch (Kind(status))
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
    }
}
