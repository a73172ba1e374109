using System;
using System.Linq;
using System.Text;
using Xunit;
using static Keldo.Crypto.Tests.Oracle;

namespace Keldo.Crypto.Tests
{
    public class TokenTests
    {
        static readonly byte[] Secret = Utf8(new string('k', 40));

        [Theory]
        [InlineData("alice", "alice@example.org", 3600u)]
        [InlineData("sssssssssssssssssssssssssssssssssssssssssssssssssssssssssssssss", "e@x", 1u)] // 63 bytes: the longest sub
        [InlineData("ünï", "é@x", 60u)]
        public void OursCheckedByHmacSha256(string sub, string email, uint ttl)
        {
            string token = KeldoJwt.Mint(Secret, sub, email, ttl);
            string[] p = token.Split('.');
            Assert.Equal(3, p.Length);
            Assert.Equal("{\"alg\":\"HS256\",\"typ\":\"JWT\"}", Encoding.UTF8.GetString(B64UrlDecode(p[0])));
            Assert.Equal(SignatureOf(Secret, token), p[2]);
            Assert.StartsWith("{\"sub\":\"" + sub + "\",\"email\":\"" + email + "\",\"iss\":\"keldo\",\"exp\":",
                              Encoding.UTF8.GetString(B64UrlDecode(p[1])));
            KeldoClaims claims = KeldoJwt.Verify(token, Secret);
            Assert.Equal(sub, claims.Sub);
            Assert.Equal(email, claims.Email);
            Assert.InRange(claims.Exp - (Now() + ttl), -2, 2);
            Assert.Equal(0, claims.Key);
        }

        [Fact]
        public void TheirsVerified()
        {
            long t = Now();
            KeldoClaims got = KeldoJwt.Verify(Signed(Secret, Claims("bob", "bob@example.org", "keldo", t + 600, t)), new string('k', 40));
            Assert.Equal(("bob", "bob@example.org", t + 600), (got.Sub, got.Email, got.Exp));
        }

        public static TheoryData<string, Type, string> Refusals()
        {
            long t = Now();
            string good = Signed(Secret, Claims("bob", "bob@example.org", "keldo", t + 600, t));
            string[] g = good.Split('.');
            return new TheoryData<string, Type, string> {
                { "abc", typeof(MalformedTokenException), "jwt_verify: malformed token (missing first dot)" },
                { g[0] + "." + g[1], typeof(MalformedTokenException), "jwt_verify: malformed token (missing second dot)" },
                { good + ".x", typeof(MalformedTokenException), "jwt_verify: malformed token (extra segments)" },
                { Signed(Secret, "{\"sub\":"), typeof(MalformedTokenException), "jwt_verify: invalid payload JSON" },
                { Signed(Secret, "[1]"), typeof(MalformedTokenException), "jwt_verify: payload root is not an object" },
                { g[0] + "." + g[1] + "." + g[2].Substring(0, 20), typeof(BadSignatureException), "jwt_verify: invalid signature format or length" },
                { Signed(Utf8(new string('z', 40)), Claims("bob", "b@x", "keldo", t + 600, t)), typeof(BadSignatureException), "jwt_verify: signature verification failed" },
                { Signed(Secret, Claims("bob", "b@x", "keldo", t - 5, t - 100)), typeof(TokenExpiredException), "jwt_verify: token has expired" },
                { Signed(Secret, Claims("bob", "b@x", "keldo", t + 7200, t + 3600)), typeof(TokenNotYetValidException), "jwt_verify: token is not valid yet (nbf in future)" },
                { Signed(Secret, Claims("bob", "b@x", "other", t + 600, t)), typeof(InvalidClaimsException), "jwt_verify: invalid or missing 'iss' claim" },
                { Signed(Secret, Claims("bob", "b@x", "keldo", null, t)), typeof(InvalidClaimsException), "jwt_verify: missing 'exp' claim" },
                { Signed(Secret, Claims(null, "b@x", "keldo", t + 600, t)), typeof(InvalidClaimsException), "jwt_verify: missing 'sub' claim" },
                { Signed(Secret, Claims(new string('s', 64), "b@x", "keldo", t + 600, t)), typeof(InvalidClaimsException), "jwt_verify: invalid 'sub' claim" },
                { Signed(Secret, Claims("bob", null, "keldo", t + 600, t)), typeof(InvalidClaimsException), "jwt_verify: missing 'email' claim" },
                { Signed(Secret, Claims("bob", new string('e', 128), "keldo", t + 600, t)), typeof(InvalidClaimsException), "jwt_verify: invalid 'email' claim" },
            };
        }

        // Every refusal reaches the caller as its own class with the
        // library's text, through the string and the span overloads alike.
        [Theory]
        [MemberData(nameof(Refusals))]
        public void RefusedWithTheLibrarysText(string token, Type type, string message)
        {
            var e = Assert.ThrowsAny<TokenException>(() => KeldoJwt.Verify(token, Secret));
            Assert.Equal(type, e.GetType());
            Assert.Equal(message, e.Message);
            var s = Assert.ThrowsAny<TokenException>(() => KeldoJwt.Verify(Encoding.ASCII.GetBytes(token), Secret.AsSpan()));
            Assert.Equal((type, message), (s.GetType(), s.Message));
        }

        [Fact]
        public void SecretRules()
        {
            string mine = KeldoJwt.Mint(Secret, "u", "e@x");
            foreach (byte[] s in new[] { Array.Empty<byte>(), Utf8(new string('k', 31)) })
            {
                Assert.Throws<KeldoArgumentException>(() => KeldoJwt.Mint(s, "u", "e@x"));
                Assert.Throws<KeldoArgumentException>(() => KeldoJwt.Verify(mine, s));
            }
            Assert.Throws<ArgumentNullException>(() => KeldoJwt.Mint((byte[])null!, "u", "e@x"));
            Assert.Throws<ArgumentNullException>(() => KeldoJwt.Mint(Secret, null!, "e@x"));
            Assert.True(typeof(ArgumentException).IsAssignableFrom(typeof(KeldoArgumentException)));
            Assert.True(typeof(ArgumentException).IsAssignableFrom(typeof(MalformedHashException)));
        }

        // Keys holding NUL bytes: HMACSHA256 as the oracle, both ways; a key
        // that differs only after its first NUL is another key.
        [Theory]
        [InlineData(0)] [InlineData(1)] [InlineData(2)]
        public void KeysWithNulBytes(int which)
        {
            byte[] key = new[] { new byte[32], Bytes(31, 5).Concat(new byte[] { 0 }).ToArray(),
                                 new byte[] { 0 }.Concat(Bytes(40, 6)).ToArray() }[which];
            long t = Now();
            string ours = KeldoJwt.Mint(key, "nul", "n@x", 60);
            Assert.Equal(SignatureOf(key, ours), ours.Split('.')[2]);
            Assert.Equal("theirs", KeldoJwt.Verify(Signed(key, Claims("theirs", "t@x", "keldo", t + 600, t)), key).Sub);
            int nul = Array.IndexOf(key, (byte)0);
            if (nul + 1 < key.Length)
            {
                byte[] other = (byte[])key.Clone();
                other[nul + 1] ^= 1;
                Assert.Throws<BadSignatureException>(() => KeldoJwt.Verify(ours, other));
            }
        }

        [Fact]
        public void TokenFirstAndSwappedCalls()
        {
            const string key = "s-secret-of-at-least-thirty-two-bytes";
            string tok = KeldoJwt.Mint(key, "u", "e@x");
            var e = Assert.Throws<KeldoArgumentException>(() => KeldoJwt.Verify(key, tok));
            Assert.Contains("arguments look swapped", e.Message);
            Assert.Equal("Verify: no token", Assert.Throws<MalformedTokenException>(() => KeldoJwt.Verify(null!, Secret)).Message);
            Assert.Equal("Verify: no token", Assert.Throws<MalformedTokenException>(() => KeldoJwt.Verify("", Secret)).Message);
            Assert.Throws<MalformedTokenException>(() => KeldoJwt.Verify("no-dots", Secret));
            Assert.Throws<MalformedTokenException>(() => KeldoJwt.Verify("a.b\0.c", Secret));
            Assert.Throws<MalformedTokenException>(() => KeldoJwt.Verify(ReadOnlySpan<byte>.Empty, Secret));
        }

        [Fact]
        public void LifetimesAndShortSecrets()
        {
            KeldoClaims timed = KeldoJwt.Verify(KeldoJwt.Mint(Secret, "u", "e@x", TimeSpan.FromMinutes(15)), Secret);
            Assert.InRange((timed.ExpiresAt - DateTimeOffset.UtcNow - TimeSpan.FromMinutes(15)).TotalSeconds, -2, 2);
            Assert.Equal(timed.Exp, timed.ExpiresAt.ToUnixTimeSeconds());
            Assert.Throws<ArgumentOutOfRangeException>(() => KeldoJwt.Mint(Secret, "u", "e@x", TimeSpan.FromSeconds(-1)));
            Assert.Throws<ArgumentOutOfRangeException>(() => KeldoJwt.Mint(Secret, "u", "e@x", TimeSpan.FromMilliseconds(1500)));
            string shortToken = KeldoJwt.Mint("short", "u", "e@x", 60, allowShortSecret: true);
            Assert.Equal(SignatureOf(Utf8("short"), shortToken), shortToken.Split('.')[2]);
            Assert.Equal("u", KeldoJwt.Verify(shortToken, "short", allowShortSecret: true).Sub);
            Assert.Equal("u", KeldoJwt.Verify(KeldoJwt.Mint(new string('é', 16), "u", "e@x"), new string('é', 16)).Sub);
        }

        // Claims the verifier would refuse are refused at mint.
        [Theory]
        [InlineData(64, 3, "Mint: sub is 64 UTF-8 bytes or longer")]
        [InlineData(-32, 3, "Mint: sub is 64 UTF-8 bytes or longer")]      // 32 'ü': 64 UTF-8 bytes
        [InlineData(1, 128, "Mint: email is 128 UTF-8 bytes or longer")]
        public void OverlongClaims(int sub, int email, string message)
        {
            string s = sub < 0 ? new string('ü', -sub) : new string('s', sub);
            Assert.Equal(message, Assert.Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, s, new string('e', email))).Message);
            if (sub > 0)
                Assert.Equal(message, Assert.Throws<KeldoArgumentException>(
                    () => KeldoJwt.Mint(Secret, Utf8(s), Utf8(new string('e', email)), new byte[KeldoJwt.MaxTokenLength])).Message);
        }

        [Theory]
        [InlineData("u\0v", "Mint: sub holds a NUL character")]
        public void UnusableClaimText(string sub, string message) =>
            Assert.Equal(message, Assert.Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, sub, "e@x")).Message);

        // (A lone surrogate in a fact: xunit's theory data would replace it.)
        [Fact]
        public void LoneSurrogateClaim() =>
            Assert.Equal("Mint: sub is not well-formed Unicode text",
                         Assert.Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret, "a\ud800", "e@x")).Message);

        // The span road writes what the string road returns (apart from the
        // second the token was made in) and refuses a short destination.
        [Fact]
        public void SpanMintAndVerify()
        {
            var buffer = new byte[KeldoJwt.MaxTokenLength + 8];
            int n = KeldoJwt.Mint(Secret.AsSpan(), Utf8("span"), Utf8("s@x"), buffer.AsSpan(4), 120);
            string token = Encoding.ASCII.GetString(buffer, 4, n);
            Assert.Equal(SignatureOf(Secret, token), token.Split('.')[2]);
            Assert.Equal(0, buffer[4 + n]);
            KeldoClaims c = KeldoJwt.Verify(buffer.AsSpan(4, n), Secret.AsSpan());
            Assert.Equal(("span", "s@x"), (c.Sub, c.Email));
            var e = Assert.Throws<KeldoArgumentException>(() => KeldoJwt.Mint(Secret.AsSpan(), Utf8("span"), Utf8("s@x"), new byte[n - 1], 120));
            Assert.Contains("the token needs " + n, e.Message);
            Assert.Equal(KeldoJwt.Mint(Secret, "span", "s@x", 120).Length, n);
        }

        // The longest claims make the longest token, which fits MaxTokenLength.
        [Fact]
        public void LongestTokenFits()
        {
            string token = KeldoJwt.Mint(Secret, new string('\u0001', 63), new string('\u0001', 127), uint.MaxValue);
            Assert.InRange(token.Length, 1, KeldoJwt.MaxTokenLength);
            Assert.Equal(new string('\u0001', 63), KeldoJwt.Verify(token, Secret).Sub);
        }
    }
}
