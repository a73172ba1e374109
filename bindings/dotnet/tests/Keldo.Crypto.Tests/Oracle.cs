using System;
using System.Collections.Generic;
using System.Security.Cryptography;
using System.Text;

namespace Keldo.Crypto.Tests
{
    // Tokens and encodings made with .NET's own primitives, never with the
    // library under test.
    internal static class Oracle
    {
        internal static string Hex(byte[] b) => Convert.ToHexString(b).ToLowerInvariant();
        internal static byte[] Utf8(string s) => Encoding.UTF8.GetBytes(s);
        internal static string B64Url(byte[] b) => Convert.ToBase64String(b).TrimEnd('=').Replace('+', '-').Replace('/', '_');

        internal static byte[] B64UrlDecode(string s)
        {
            s = s.Replace('-', '+').Replace('_', '/');
            return Convert.FromBase64String(s + new string('=', (4 - s.Length % 4) % 4));
        }

        // Deterministic bytes, so a failure reproduces.
        internal static byte[] Bytes(int n, int seed)
        {
            var b = new byte[n];
            new Random(seed).NextBytes(b);
            return b;
        }

        internal static long Now() => DateTimeOffset.UtcNow.ToUnixTimeSeconds();

        // A token signed by HMACSHA256 over exactly this payload JSON.
        internal static string Signed(byte[] secret, string payloadJson)
        {
            string input = B64Url(Utf8("{\"alg\":\"HS256\",\"typ\":\"JWT\"}")) + "." + B64Url(Utf8(payloadJson));
            return input + "." + B64Url(HMACSHA256.HashData(secret, Utf8(input)));
        }

        internal static string SignatureOf(byte[] secret, string token)
        {
            string[] p = token.Split('.');
            return B64Url(HMACSHA256.HashData(secret, Utf8(p[0] + "." + p[1])));
        }

        internal static string Claims(string? sub, string? email, string? iss, long? exp, long? nbf)
        {
            var parts = new List<string>();
            if (sub != null) parts.Add("\"sub\":\"" + sub + "\"");
            if (email != null) parts.Add("\"email\":\"" + email + "\"");
            if (iss != null) parts.Add("\"iss\":\"" + iss + "\"");
            if (exp.HasValue) parts.Add("\"exp\":" + exp.Value);
            if (nbf.HasValue) parts.Add("\"nbf\":" + nbf.Value);
            return "{" + string.Join(",", parts) + "}";
        }
    }
}
