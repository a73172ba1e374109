// Test program for KeldoCrypto.cs: .NET's own SHA256, HMACSHA256 and
// Rfc2898DeriveBytes as the oracles, tokens signed and checked with
// HMACSHA256 in both directions, every exception class reached with the
// library's message, and many threads minting, verifying and failing at
// once. Prints one line per failed check; exits 1 if any failed.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Security.Cryptography;
using System.Text;
using System.Threading;
using Keldo.Crypto;

static class KeldoCryptoTests
{
    static int checks;
    static int failures;

    static void Check(bool ok, string what)
    {
        Interlocked.Increment(ref checks);
        if (!ok)
        {
            Interlocked.Increment(ref failures);
            Console.WriteLine("FAIL: " + what);
        }
    }

    static void Equal<T>(T want, T got, string what)
    {
        Check(EqualityComparer<T>.Default.Equals(want, got), what + ": want <" + want + ">, got <" + got + ">");
    }

    static void Same(byte[] want, byte[] got, string what)
    {
        Check(want.SequenceEqual(got), what + ": want " + Hex(want) + ", got " + Hex(got));
    }

    // The action must throw exactly TException; message, when given, must
    // be its text.
    static void Throws<TException>(Action action, string what, string message = null) where TException : Exception
    {
        try
        {
            action();
            Check(false, what + ": no exception (want " + typeof(TException).Name + ")");
        }
        catch (Exception e)
        {
            Check(e.GetType() == typeof(TException), what + ": " + e.GetType().Name + " \"" + e.Message + "\"");
            if (message != null) Equal(message, e.Message, what + " message");
        }
    }

    static string Hex(byte[] b) { return BitConverter.ToString(b).Replace("-", "").ToLowerInvariant(); }
    static byte[] Utf8(string s) { return Encoding.UTF8.GetBytes(s); }
    static string B64Url(byte[] b) { return Convert.ToBase64String(b).TrimEnd('=').Replace('+', '-').Replace('/', '_'); }

    static byte[] B64UrlDecode(string s)
    {
        s = s.Replace('-', '+').Replace('_', '/');
        return Convert.FromBase64String(s + new string('=', (4 - s.Length % 4) % 4));
    }

    // Deterministic bytes, so a failure reproduces.
    static byte[] Bytes(int n, int seed)
    {
        var rng = new Random(seed);
        var b = new byte[n];
        rng.NextBytes(b);
        return b;
    }

    static long Now() { return DateTimeOffset.UtcNow.ToUnixTimeSeconds(); }

    // A token signed by .NET's HMACSHA256 over exactly this payload JSON.
    static string Signed(byte[] secret, string payloadJson)
    {
        string input = B64Url(Utf8("{\"alg\":\"HS256\",\"typ\":\"JWT\"}")) + "." + B64Url(Utf8(payloadJson));
        using (var h = new HMACSHA256(secret)) return input + "." + B64Url(h.ComputeHash(Utf8(input)));
    }

    static string Claims(string sub, string email, string iss, long? exp, long? nbf)
    {
        var parts = new List<string>();
        if (sub != null) parts.Add("\"sub\":\"" + sub + "\"");
        if (email != null) parts.Add("\"email\":\"" + email + "\"");
        if (iss != null) parts.Add("\"iss\":\"" + iss + "\"");
        if (exp.HasValue) parts.Add("\"exp\":" + exp.Value);
        if (nbf.HasValue) parts.Add("\"nbf\":" + nbf.Value);
        return "{" + string.Join(",", parts) + "}";
    }

    static readonly byte[] Secret = Utf8(new string('k', 40));

    static void Hashes()
    {
        Equal("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hex(KeldoCrypto.Sha256(Utf8("abc"))),
              "FIPS 180-4 abc");
        using (var sha = SHA256.Create())
        {
            foreach (int n in new[] { 0, 1, 55, 56, 63, 64, 65, 127, 128, 1000, 4097 })
            {
                byte[] data = Bytes(n, n);
                Same(sha.ComputeHash(data), KeldoCrypto.Sha256(data), "SHA-256 of " + n + " bytes");
            }
        }
        Equal("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
              Hex(KeldoCrypto.HmacSha256(Utf8("Jefe"), Utf8("what do ya want for nothing?"))), "RFC 4231 case 2");
        foreach (int keyLen in new[] { 0, 1, 32, 64, 65, 131 })
        {
            foreach (int n in new[] { 0, 1, 64, 1000 })
            {
                byte[] key = Bytes(keyLen, 1000 + keyLen), data = Bytes(n, 2000 + n);
                using (var h = new HMACSHA256(key))
                    Same(h.ComputeHash(data), KeldoCrypto.HmacSha256(key, data), "HMAC key " + keyLen + ", data " + n);
            }
        }
        Equal("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc" +
              "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783",
              Hex(KeldoCrypto.Pbkdf2Sha256(Utf8("passwd"), Utf8("salt"), 1, 64)), "RFC 7914 section 11");
        // Rfc2898DeriveBytes wants a salt of 8 bytes or more.
        var cases = new[] {
            new { Pw = Utf8("password"), Salt = Utf8("saltsalt"), It = 1, Len = 32 },
            new { Pw = Utf8("password"), Salt = Utf8("saltsalt"), It = 4096, Len = 20 },
            new { Pw = new byte[0], Salt = Bytes(16, 3), It = 3, Len = 1 },
            new { Pw = Bytes(100, 4), Salt = Bytes(16, 5), It = 10, Len = 33 },
            new { Pw = Utf8("pw"), Salt = Bytes(300, 6), It = 3, Len = 64 },
        };
        foreach (var c in cases)
        {
            using (var d = new Rfc2898DeriveBytes(c.Pw, c.Salt, c.It, HashAlgorithmName.SHA256))
                Same(d.GetBytes(c.Len), KeldoCrypto.Pbkdf2Sha256(c.Pw, c.Salt, (uint)c.It, c.Len),
                     "PBKDF2 " + c.Pw.Length + "/" + c.Salt.Length + "/" + c.It + "/" + c.Len);
        }
        Throws<KeldoArgumentException>(() => KeldoCrypto.Pbkdf2Sha256(Utf8("p"), Utf8("s"), 0), "PBKDF2 0 iterations");
        Throws<KeldoArgumentException>(() => KeldoCrypto.Pbkdf2Sha256(Utf8("p"), Utf8("s"), 1, 0), "PBKDF2 length 0");
        Throws<ArgumentNullException>(() => KeldoCrypto.Sha256(null), "SHA-256 of null");

        Check(KeldoCrypto.CompareDigest(new byte[0], new byte[0]), "compare empty");
        Check(KeldoCrypto.CompareDigest(Bytes(64, 1), Bytes(64, 1)), "compare equal");
        byte[] last = Bytes(64, 1);
        last[63] ^= 1;
        Check(!KeldoCrypto.CompareDigest(Bytes(64, 1), last), "compare last bit");
        Check(!KeldoCrypto.CompareDigest(Utf8("abc"), Utf8("ab")), "compare lengths");
    }

    static void Encodings()
    {
        for (int n = 0; n <= 70; n++)
        {
            byte[] data = Bytes(n, 300 + n);
            string b64 = Convert.ToBase64String(data);
            Equal(b64, KeldoCrypto.Base64Encode(data), "Base64 of " + n);
            Equal(B64Url(data), KeldoCrypto.Base64UrlEncode(data), "base64url of " + n);
            Same(data, KeldoCrypto.Base64Decode(b64), "Base64 back, " + n);
            Same(data, KeldoCrypto.Base64UrlDecode(B64Url(data)), "base64url back, " + n);
        }
        Throws<KeldoArgumentException>(() => KeldoCrypto.Base64Decode("ab*d"), "Base64 bad character",
                                       "keldo_crypto_base64_decode: decode failed or buffer too small");
        Throws<KeldoArgumentException>(() => KeldoCrypto.Base64UrlDecode("ab d"), "base64url bad character",
                                       "keldo_crypto_base64url_decode: decode failed or buffer too small");
        Throws<KeldoArgumentException>(() => KeldoCrypto.Base64Decode("Zm9v\0Zm9v"), "Base64 with a NUL");

        var seen = new HashSet<string>();
        for (int i = 0; i < 1000; i++)
        {
            string u = KeldoCrypto.Uuid4();
            Check(System.Text.RegularExpressions.Regex.IsMatch(
                      u, "^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$"), "UUID form " + u);
            seen.Add(u);
        }
        Equal(1000, seen.Count, "distinct UUIDs");
    }

    static void Tokens()
    {
        // Ours, checked by .NET's HMAC and JSON as plain text.
        foreach (var c in new[] { Tuple.Create("alice", "alice@example.org", 3600u), Tuple.Create(new string('s', 63), new string('e', 127), 1u),
                                  Tuple.Create("ünï", "é@x", 60u) })
        {
            string token = KeldoJwt.Mint(Secret, c.Item1, c.Item2, c.Item3);
            string[] p = token.Split('.');
            Equal(3, p.Length, "three segments");
            Equal("{\"alg\":\"HS256\",\"typ\":\"JWT\"}", Encoding.UTF8.GetString(B64UrlDecode(p[0])), "header");
            using (var h = new HMACSHA256(Secret))
                Equal(B64Url(h.ComputeHash(Utf8(p[0] + "." + p[1]))), p[2], "signature by HMACSHA256");
            string json = Encoding.UTF8.GetString(B64UrlDecode(p[1]));
            Check(json.StartsWith("{\"sub\":\"" + c.Item1 + "\",\"email\":\"" + c.Item2 + "\",\"iss\":\"keldo\",\"exp\":"),
                  "payload " + json);
            KeldoClaims claims = KeldoJwt.Verify(token, Secret);
            Equal(c.Item1, claims.Sub, "sub back");
            Equal(c.Item2, claims.Email, "email back");
            Check(Math.Abs(claims.Exp - (Now() + c.Item3)) <= 2, "exp " + claims.Exp);
        }

        // Theirs, signed by HMACSHA256, verified by us.
        long t = Now();
        string good = Signed(Secret, Claims("bob", "bob@example.org", "keldo", t + 600, t));
        KeldoClaims got = KeldoJwt.Verify(good, new string('k', 40));
        Equal("bob", got.Sub, "foreign sub");
        Equal(t + 600, got.Exp, "foreign exp");

        string[] g = good.Split('.');
        var refusals = new List<Tuple<string, Type, string>> {
            Tuple.Create("abc", typeof(MalformedTokenException), "jwt_verify: malformed token (missing first dot)"),
            Tuple.Create(g[0] + "." + g[1], typeof(MalformedTokenException), "jwt_verify: malformed token (missing second dot)"),
            Tuple.Create(good + ".x", typeof(MalformedTokenException), "jwt_verify: malformed token (extra segments)"),
            Tuple.Create(Signed(Secret, "{\"sub\":"), typeof(MalformedTokenException), "jwt_verify: invalid payload JSON"),
            Tuple.Create(g[0] + "." + g[1] + "." + g[2].Substring(0, 20), typeof(BadSignatureException),
                         "jwt_verify: invalid signature format or length"),
            Tuple.Create(Signed(Utf8(new string('z', 40)), Claims("bob", "b@x", "keldo", t + 600, t)), typeof(BadSignatureException),
                         "jwt_verify: signature verification failed"),
            Tuple.Create(Signed(Secret, Claims("bob", "b@x", "keldo", t - 5, t - 100)), typeof(TokenExpiredException),
                         "jwt_verify: token has expired"),
            Tuple.Create(Signed(Secret, Claims("bob", "b@x", "keldo", t + 7200, t + 3600)), typeof(TokenNotYetValidException),
                         "jwt_verify: token is not valid yet (nbf in future)"),
            Tuple.Create(Signed(Secret, Claims("bob", "b@x", "other", t + 600, t)), typeof(InvalidClaimsException),
                         "jwt_verify: invalid or missing 'iss' claim"),
            Tuple.Create(Signed(Secret, Claims("bob", "b@x", "keldo", null, t)), typeof(InvalidClaimsException),
                         "jwt_verify: missing 'exp' claim"),
            Tuple.Create(Signed(Secret, Claims(null, "b@x", "keldo", t + 600, t)), typeof(InvalidClaimsException),
                         "jwt_verify: missing 'sub' claim"),
            Tuple.Create(Signed(Secret, Claims(new string('s', 64), "b@x", "keldo", t + 600, t)), typeof(InvalidClaimsException),
                         "jwt_verify: invalid 'sub' claim"),
            Tuple.Create(Signed(Secret, Claims("bob", null, "keldo", t + 600, t)), typeof(InvalidClaimsException),
                         "jwt_verify: missing 'email' claim"),
        };
        foreach (var r in refusals)
        {
            try
            {
                KeldoJwt.Verify(r.Item1, Secret);
                Check(false, r.Item3 + ": accepted");
            }
            catch (TokenException e)
            {
                Equal(r.Item2, e.GetType(), r.Item3 + " class");
                Equal(r.Item3, e.Message, "message");
            }
        }

        // Secret rules, before the library sees the secret.
        string mine = KeldoJwt.Mint(Secret, "u", "e@x");
        var badSecrets = new[] { new byte[0], Utf8(new string('k', 31)) };
        foreach (byte[] s in badSecrets)
        {
            Throws<KeldoArgumentException>(() => KeldoJwt.Mint(s, "u", "e@x"), "mint secret of " + s.Length);
            Throws<KeldoArgumentException>(() => KeldoJwt.Verify(mine, s), "verify secret of " + s.Length);
        }
        Throws<ArgumentNullException>(() => KeldoJwt.Mint((byte[])null, "u", "e@x"), "null secret");
        Throws<ArgumentNullException>(() => KeldoJwt.Mint(Secret, null, "e@x"), "null sub");
        Check(typeof(ArgumentException).IsAssignableFrom(typeof(KeldoArgumentException)), "argument errors are ArgumentExceptions");
        Check(typeof(ArgumentException).IsAssignableFrom(typeof(MalformedHashException)), "a malformed hash is an argument error");

        // Keys holding NUL bytes (one random 32-byte key in eight): .NET's
        // HMACSHA256 as the oracle, both ways.
        foreach (byte[] key in new[] { new byte[32], Bytes(31, 5).Concat(new byte[] { 0 }).ToArray(),
                                       new byte[] { 0 }.Concat(Bytes(40, 6)).ToArray() })
        {
            string ours = KeldoJwt.Mint(key, "nul", "n@x", 60);
            string[] p = ours.Split('.');
            using (var h = new HMACSHA256(key))
                Equal(B64Url(h.ComputeHash(Utf8(p[0] + "." + p[1]))), p[2], "signed with every byte of the key");
            Equal("theirs", KeldoJwt.Verify(Signed(key, Claims("theirs", "t@x", "keldo", t + 600, t)), key).Sub,
                  "HMACSHA256 token with a NUL key");
            // A key that differs only after its first NUL is another key.
            int nul = Array.IndexOf(key, (byte)0);
            if (nul + 1 < key.Length)
            {
                byte[] other = (byte[])key.Clone();
                other[nul + 1] ^= 1;
                Throws<BadSignatureException>(() => KeldoJwt.Verify(ours, other), "differs after the NUL");
            }
        }

        // Token first; a swapped call says so; no token is a malformed token.
        string tok = KeldoJwt.Mint("s-secret-of-at-least-thirty-two-bytes", "u", "e@x");
        Throws<KeldoArgumentException>(() => KeldoJwt.Verify("s-secret-of-at-least-thirty-two-bytes", tok), "swapped strings");
        try
        {
            KeldoJwt.Verify("s-secret-of-at-least-thirty-two-bytes", tok);
        }
        catch (KeldoArgumentException e)
        {
            Check(e.Message.Contains("arguments look swapped"), "swapped message: " + e.Message);
        }
        Throws<MalformedTokenException>(() => KeldoJwt.Verify(null, Secret), "null token", "Verify: no token");
        Throws<MalformedTokenException>(() => KeldoJwt.Verify("", Secret), "empty token", "Verify: no token");
        Throws<MalformedTokenException>(() => KeldoJwt.Verify("no-dots", Secret), "no dots, key no token");

        // TimeSpan lifetime, DateTimeOffset expiry.
        KeldoClaims timed = KeldoJwt.Verify(KeldoJwt.Mint(Secret, "u", "e@x", TimeSpan.FromMinutes(15)), Secret);
        Check(Math.Abs((timed.ExpiresAt - DateTimeOffset.UtcNow - TimeSpan.FromMinutes(15)).TotalSeconds) <= 2,
              "ExpiresAt " + timed.ExpiresAt);
        Equal(timed.Exp, timed.ExpiresAt.ToUnixTimeSeconds(), "Exp and ExpiresAt agree");
        Throws<ArgumentOutOfRangeException>(() => KeldoJwt.Mint(Secret, "u", "e@x", TimeSpan.FromSeconds(-1)), "negative ttl");
        Throws<ArgumentOutOfRangeException>(() => KeldoJwt.Mint(Secret, "u", "e@x", TimeSpan.FromMilliseconds(1500)), "part seconds");
        string shortToken = KeldoJwt.Mint("short", "u", "e@x", 60, allowShortSecret: true);
        using (var h = new HMACSHA256(Utf8("short")))
        {
            string[] p = shortToken.Split('.');
            Equal(B64Url(h.ComputeHash(Utf8(p[0] + "." + p[1]))), p[2], "short secret used whole");
        }
        Equal("u", KeldoJwt.Verify(shortToken, "short", allowShortSecret: true).Sub, "short secret verify");
        Equal("u", KeldoJwt.Verify(KeldoJwt.Mint(new string('é', 16), "u", "e@x"), new string('é', 16)).Sub,
              "32 UTF-8 bytes in 16 characters");

        // Claims the verifier would refuse are refused at mint.
        Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, new string('s', 64), "e@x"), "sub of 64 bytes");
        Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, new string('ü', 32), "e@x"), "sub of 64 UTF-8 bytes");
        Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, "u", new string('e', 128)), "email of 128 bytes");
        Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, "u\0v", "e@x"), "sub with NUL");
        Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, "\ud800", "e@x"), "lone surrogate");
        Throws<MalformedTokenException>(() => KeldoJwt.Verify("a.b\0.c", Secret), "token with NUL");
    }

    static string Phc(byte[] pw, byte[] salt, int it, int len = 32)
    {
        using (var d = new Rfc2898DeriveBytes(pw, salt, it, HashAlgorithmName.SHA256))
            return "$pbkdf2-sha256$i=" + it + "$" + Convert.ToBase64String(salt).TrimEnd('=') + "$" +
                   Convert.ToBase64String(d.GetBytes(len)).TrimEnd('=');
    }

    static string Django(string pw, string salt, int it)
    {
        using (var d = new Rfc2898DeriveBytes(Utf8(pw), Utf8(salt), it, HashAlgorithmName.SHA256))
            return "pbkdf2_sha256$" + it + "$" + salt + "$" + Convert.ToBase64String(d.GetBytes(32));
    }

    static string Passlib(byte[] pw, byte[] salt, int it)
    {
        using (var d = new Rfc2898DeriveBytes(pw, salt, it, HashAlgorithmName.SHA256))
            return "$pbkdf2-sha256$" + it + "$" + Convert.ToBase64String(salt).TrimEnd('=').Replace('+', '.') + "$" +
                   Convert.ToBase64String(d.GetBytes(32)).TrimEnd('=').Replace('+', '.');
    }

    static string Werkzeug(string pw, string salt, int it)
    {
        using (var d = new Rfc2898DeriveBytes(Utf8(pw), Utf8(salt), it, HashAlgorithmName.SHA256))
            return "pbkdf2:sha256:" + it + "$" + salt + "$" + Hex(d.GetBytes(32));
    }

    static void Passwords()
    {
        string stored = KeldoCrypto.HashPassword("correct horse", 1000);
        var m = System.Text.RegularExpressions.Regex.Match(stored, @"^\$pbkdf2-sha256\$i=1000\$([A-Za-z0-9+/]{22})\$([A-Za-z0-9+/]{43})$");
        Check(m.Success, "PHC form " + stored);
        if (m.Success)
        {
            byte[] salt = Convert.FromBase64String(m.Groups[1].Value + "==");
            using (var d = new Rfc2898DeriveBytes(Utf8("correct horse"), salt, 1000, HashAlgorithmName.SHA256))
                Equal(Convert.ToBase64String(d.GetBytes(32)).TrimEnd('='), m.Groups[2].Value, "PHC key by Rfc2898DeriveBytes");
        }
        Check(KeldoCrypto.VerifyPassword("correct horse", stored), "own hash verifies");
        Check(!KeldoCrypto.VerifyPassword("correct horsf", stored), "wrong password");
        foreach (var c in new[] { Tuple.Create(Phc(Utf8("hunter2"), Bytes(16, 9), 1000), "hunter2"),
                                  Tuple.Create(Django("hunter2", "seasalt1", 1200), "hunter2"),
                                  Tuple.Create(Django("pässwörd", "Xz9abcdefg", 10), "pässwörd"),
                                  Tuple.Create(Passlib(Utf8("hunter2"), new byte[] { 0xfb, 0xff, 0xfe, 0, 1, 2, 3, 4, 5, 6, 7, 8 }, 7), "hunter2"),
                                  Tuple.Create(Werkzeug("hunter2", "Qx9saltQ", 6), "hunter2") })
        {
            Check(KeldoCrypto.VerifyPassword(c.Item2, c.Item1), "verifies " + c.Item1);
            Check(!KeldoCrypto.VerifyPassword(c.Item2 + "!", c.Item1), "refuses wrong password for " + c.Item1);
        }
        string good = Phc(Utf8("pw"), Bytes(16, 7), 10);
        string[] f = good.Split('$');
        foreach (string bad in new[] {
                     "plain", "$pbkdf2-sha256$i=10$" + f[3], "$pbkdf2-sha256$i=0$" + f[3] + "$" + f[4],
                     "$pbkdf2-sha256$i=100000001$" + f[3] + "$" + f[4], "$pbkdf2-sha256$i=10$" + f[3] + "==$" + f[4],
                     "$pbkdf2-sha256$i=10$" + f[3] + "$" + f[4].Substring(0, 42) + "x",
                     Phc(Utf8("pw"), Bytes(16, 7), 10, 16), Phc(Utf8("pw"), Bytes(16, 7), 10, 64),
                     "pbkdf2_sha256$10$$" + f[4], "pbkdf2_sha256$10$salt", "pbkdf2_sha256$0$saltsalt$" + f[4] + "=" })
        {
            Throws<MalformedHashException>(() => KeldoCrypto.VerifyPassword("pw", bad), "refused stored " + bad);
            Throws<MalformedHashException>(() => KeldoCrypto.NeedsRehash(bad), "needs-rehash of " + bad);
        }
        // At login an over-long password is a wrong password, not an error.
        Check(!KeldoCrypto.VerifyPassword(new string('p', 5000), Django(new string('p', 5000), "saltsalt", 1)), "over-long password");
        Check(KeldoCrypto.NeedsRehash(Phc(Utf8("pw"), Bytes(16, 7), 1000)), "fewer iterations than the default");
        Check(!KeldoCrypto.NeedsRehash(Phc(Utf8("pw"), Bytes(16, 7), 1000), 1000), "as many as asked for");
        Check(KeldoCrypto.NeedsRehash(Django("pw", "saltsalt", 900000)), "not the PHC form");
        Throws<ArgumentNullException>(() => KeldoCrypto.VerifyPassword("pw", null), "null stored hash");
        Check(KeldoCrypto.VerifyPassword("pw", good), "the unaltered string");
        Throws<KeldoArgumentException>(() => KeldoCrypto.HashPassword(""), "empty password", "HashPassword: the password is empty");
        Throws<KeldoArgumentException>(() => KeldoCrypto.HashPassword(new string('p', 4097), 1), "4097-byte password");
        Throws<ArgumentOutOfRangeException>(() => KeldoCrypto.HashPassword("pw", 0), "0 iterations");
        Throws<ArgumentOutOfRangeException>(() => KeldoCrypto.HashPassword("pw", 100000001), "too many iterations");
    }

    // Ten threads mint, verify and fail at once; each checks that its tokens
    // carry its own signature and subject and its refusals their own message.
    static void Threads()
    {
        const int threads = 10, rounds = 2000;
        long t = Now();
        var problems = new List<string>();
        var workers = new List<Thread>();
        for (int id = 0; id < threads; id++)
        {
            int me = id;
            workers.Add(new Thread(() => {
                byte[] secret = Utf8(("secret-of-thread-" + me + "-").PadRight(40, (char)('a' + me)));
                string expired = Signed(secret, Claims("x", "y", "keldo", t - 30, t - 90));
                string foreign = Signed(Utf8(new string('z', 40)), Claims("x", "y", "keldo", t + 600, t));
                var failing = new[] {
                    Tuple.Create((Action)(() => KeldoJwt.Verify(foreign, secret)), "jwt_verify: signature verification failed"),
                    Tuple.Create((Action)(() => KeldoJwt.Verify(expired, secret)), "jwt_verify: token has expired"),
                    Tuple.Create((Action)(() => KeldoJwt.Verify("no-dots", secret)), "jwt_verify: malformed token (missing first dot)"),
                    Tuple.Create((Action)(() => KeldoCrypto.Base64Decode("**")), "keldo_crypto_base64_decode: decode failed or buffer too small"),
                    Tuple.Create((Action)(() => KeldoCrypto.Base64UrlDecode("a b")), "keldo_crypto_base64url_decode: decode failed or buffer too small"),
                }[me % 5];
                int bad = 0;
                using (var h = new HMACSHA256(secret))
                {
                    for (int n = 0; n < rounds && bad < 5; n++)
                    {
                        string sub = "t" + me + "-" + n;
                        string token = KeldoJwt.Mint(secret, sub, "t" + me + "@example.org", 600);
                        string[] p = token.Split('.');
                        string why = null;
                        if (B64Url(h.ComputeHash(Utf8(p[0] + "." + p[1]))) != p[2]) why = "token not signed with this thread's secret";
                        else if (!Encoding.UTF8.GetString(B64UrlDecode(p[1])).StartsWith("{\"sub\":\"" + sub + "\"")) why = "token for another subject";
                        try
                        {
                            failing.Item1();
                            why = why ?? "refusal reported as success";
                        }
                        catch (Exception e)
                        {
                            if (e.Message != failing.Item2) why = why ?? "message \"" + e.Message + "\"";
                        }
                        try
                        {
                            if (KeldoJwt.Verify(token, secret).Sub != sub) why = why ?? "verified another subject";
                        }
                        catch (KeldoException e)
                        {
                            why = why ?? "own token refused: " + e.Message;
                        }
                        if (why != null)
                        {
                            bad++;
                            lock (problems) problems.Add("thread " + me + ", round " + n + ": " + why);
                        }
                    }
                }
            }));
        }
        foreach (Thread w in workers) w.Start();
        foreach (Thread w in workers) w.Join();
        foreach (string p in problems) Check(false, p);
        Check(true, "threads");
    }

    // Bound by now (through KELDO_CRYPTO_LIBRARY or DllImport): the same
    // file again is accepted, another one refused.
    static void Loading()
    {
        string env = Environment.GetEnvironmentVariable("KELDO_CRYPTO_LIBRARY");
        if (!string.IsNullOrEmpty(env)) KeldoCrypto.LoadLibrary(env);
        Throws<KeldoArgumentException>(() => KeldoCrypto.LoadLibrary("/elsewhere/libkeldo_crypto.so"), "a second library");
    }

    // Run as a child with nothing to find: the error names what to do.
    static void NotFound()
    {
        string self = System.Reflection.Assembly.GetExecutingAssembly().Location;
        var psi = new System.Diagnostics.ProcessStartInfo(System.Diagnostics.Process.GetCurrentProcess().MainModule.FileName,
                                                          "\"" + self + "\" not-found") {
            UseShellExecute = false, RedirectStandardOutput = true };
        psi.EnvironmentVariables["KELDO_CRYPTO_LIBRARY"] = "/nonexistent/libkeldo_crypto.so.1";
        using (var p = System.Diagnostics.Process.Start(psi))
        {
            string output = p.StandardOutput.ReadToEnd();
            p.WaitForExit();
            Equal(0, p.ExitCode, "child exit");
            Check(output.StartsWith("KeldoLibraryNotFoundException: keldo-crypto: no such file: /nonexistent/libkeldo_crypto.so.1"),
                  "not found: " + output);
            Check(output.Contains("KELDO_CRYPTO_LIBRARY"), "names the variable: " + output);
        }
    }

    static int Main(string[] args)
    {
        if (args.Length > 0 && args[0] == "not-found")
        {
            try
            {
                KeldoCrypto.Sha256(new byte[0]);
                Console.WriteLine("loaded");
            }
            catch (KeldoException e)
            {
                Console.WriteLine(e.GetType().Name + ": " + e.Message);
            }
            return 0;
        }
        var parts = new Action[] { Hashes, Encodings, Tokens, Passwords, Threads, Loading, NotFound };
        foreach (Action part in parts)
        {
            try
            {
                part();
            }
            catch (Exception e)
            {
                Check(false, part.Method.Name + " threw " + e);
            }
        }
        Console.WriteLine(checks + " checks, " + failures + " failed");
        return failures == 0 ? 0 : 1;
    }
}
