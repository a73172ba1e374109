using System;

namespace Keldo.Crypto
{
    /// <summary>Base of every refusal and failure of keldo-crypto that is not
    /// an argument error (those are <see cref="ArgumentException"/>s).</summary>
    public class KeldoException : Exception
    {
        /// <summary>An exception with the given message.</summary>
        public KeldoException(string message) : base(message) { }
    }

    /// <summary>An argument refused before or by the library. Null
    /// arguments are <see cref="ArgumentNullException"/>s.</summary>
    public class KeldoArgumentException : ArgumentException
    {
        /// <summary>An exception with the given message.</summary>
        public KeldoArgumentException(string message) : base(message) { }
    }

    /// <summary>A stored password hash that is not a usable hash in any form
    /// the library reads: a broken user table, not a wrong password.</summary>
    public sealed class MalformedHashException : KeldoArgumentException
    {
        /// <summary>An exception with the given message.</summary>
        public MalformedHashException(string message) : base(message) { }
    }

    /// <summary>The library failed for a reason other than its input (memory,
    /// the random source).</summary>
    public class KeldoLibraryException : KeldoException
    {
        /// <summary>An exception with the given message.</summary>
        public KeldoLibraryException(string message) : base(message) { }
    }

    /// <summary>The shared library could not be found or loaded; the message
    /// says what was tried and how to point at the file.</summary>
    public sealed class KeldoLibraryNotFoundException : KeldoException
    {
        /// <summary>An exception with the given message.</summary>
        public KeldoLibraryNotFoundException(string message) : base(message) { }
    }

    /// <summary>Base of every reason a token is refused.</summary>
    public class TokenException : KeldoException
    {
        /// <summary>An exception with the given message.</summary>
        public TokenException(string message) : base(message) { }
    }

    /// <summary>No token, or not three segments of base64url with a JSON
    /// object.</summary>
    public sealed class MalformedTokenException : TokenException
    {
        /// <summary>An exception with the given message.</summary>
        public MalformedTokenException(string message) : base(message) { }
    }

    /// <summary>A signature that does not match the key (or keys), or cannot be one.</summary>
    public sealed class BadSignatureException : TokenException
    {
        /// <summary>An exception with the given message.</summary>
        public BadSignatureException(string message) : base(message) { }
    }

    /// <summary>The token\'s "exp" is now or in the past.</summary>
    public sealed class TokenExpiredException : TokenException
    {
        /// <summary>An exception with the given message.</summary>
        public TokenExpiredException(string message) : base(message) { }
    }

    /// <summary>The token\'s "nbf" is in the future.</summary>
    public sealed class TokenNotYetValidException : TokenException
    {
        /// <summary>An exception with the given message.</summary>
        public TokenNotYetValidException(string message) : base(message) { }
    }

    /// <summary>Issuer, or sub, email or exp missing or invalid.</summary>
    public sealed class InvalidClaimsException : TokenException
    {
        /// <summary>An exception with the given message.</summary>
        public InvalidClaimsException(string message) : base(message) { }
    }
}
