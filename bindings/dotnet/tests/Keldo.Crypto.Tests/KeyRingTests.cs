using System;
using System.Collections.Concurrent;
using System.Collections.Generic;
using System.Linq;
using System.Text;
using System.Threading.Tasks;
using Microsoft.IdentityModel.JsonWebTokens;
using Microsoft.IdentityModel.Tokens;
using Xunit;
using static Keldo.Crypto.Tests.Oracle;

namespace Keldo.Crypto.Tests
{
    public class KeyRingTests
    {
        static readonly byte[][] Secrets = Enumerable.Range(0, 4).Select(i => Bytes(40 + i, 500 + i)).ToArray();

        // A prepared key mints what its secret mints, byte for byte (retried
        // if the clock's second turned between the two).
        [Fact]
        public void PreparedKeyMintsTheSecretsToken()
        {
            using var key = new TokenKey(Secrets[0]);
            using var ring = new KeyRing(key);
            for (int attempt = 0; ; attempt++)
            {
                string bySecret = KeldoJwt.Mint(Secrets[0], "alice", "a@x", 300);
                string byKey = key.Mint("alice", "a@x", 300), byRing = ring.Mint("alice", "a@x", 300);
                if ((bySecret != byKey || byKey != byRing) && attempt < 3) continue;
                Assert.Equal(bySecret, byKey);
                Assert.Equal(bySecret, byRing);
                break;
            }
        }

        static TokenValidationParameters Under(byte[] secret) => new TokenValidationParameters {
            ValidIssuer = "keldo", ValidateAudience = false, IssuerSigningKey = new SymmetricSecurityKey(secret),
            ValidAlgorithms = new[] { SecurityAlgorithms.HmacSha256 }, ClockSkew = TimeSpan.Zero };

        // JsonWebTokenHandler as the oracle: a token minted with each ring
        // key validates there under that key and no other; its tokens verify
        // here under the ring at the signer's position.
        [Fact]
        public async Task EachKeyAgainstJsonWebTokenHandler()
        {
            var handler = new JsonWebTokenHandler();
            using var ring = new KeyRing(Secrets);
            for (int i = 0; i < Secrets.Length; i++)
            {
                using var key = new TokenKey(Secrets[i]);
                string ours = key.Mint("u" + i, "u@x", 300);
                for (int j = 0; j < Secrets.Length; j++)
                    Assert.Equal(i == j, (await handler.ValidateTokenAsync(ours, Under(Secrets[j]))).IsValid);
                Assert.Equal(i, ring.Verify(ours).Key);
                string theirs = handler.CreateToken(new SecurityTokenDescriptor {
                    Claims = new Dictionary<string, object> { ["sub"] = "t" + i, ["email"] = "t@x" }, Issuer = "keldo",
                    Expires = DateTime.UtcNow.AddMinutes(5),
                    SigningCredentials = new SigningCredentials(new SymmetricSecurityKey(Secrets[i]), SecurityAlgorithms.HmacSha256) });
                KeldoClaims c = KeldoJwt.Verify(theirs, ring);
                Assert.Equal(("t" + i, i), (c.Sub, c.Key));
                Assert.Equal(i, KeldoJwt.Verify(Encoding.ASCII.GetBytes(theirs), ring).Key);
            }
        }

        // Which refusals move on to the next key: only a bad signature. A
        // token under the ring's third key that is expired is answered
        // "expired", not "bad signature" after trying the rest.
        public static TheoryData<int, string, Type?, int> Refusals()
        {
            long t = Now();
            string ok = Claims("s", "e@x", "keldo", t + 600, t);
            return new TheoryData<int, string, Type?, int> {
                { 2, ok, null, 2 },
                { 0, ok, null, 0 },
                { -1, ok, typeof(BadSignatureException), 0 },
                { 2, Claims("s", "e@x", "keldo", t - 10, t - 100), typeof(TokenExpiredException), 0 },
                { 1, Claims("s", "e@x", "keldo", t + 900, t + 600), typeof(TokenNotYetValidException), 0 },
                { 3, Claims("s", "e@x", "other", t + 600, t), typeof(InvalidClaimsException), 0 },
                { 3, "{\"sub\":", typeof(MalformedTokenException), 0 },
                // A repeated member name, which peers read last-wins: refused.
                { 1, "{\"sub\":\"s\",\"email\":\"e@x\",\"iss\":\"keldo\",\"exp\":" + (t + 600) + ",\"exp\":1}", typeof(MalformedTokenException), 0 },
                { 0, "{\"sub\":\"s\",\"email\":\"e@x\",\"iss\":\"keldo\",\"iss\":\"evil\",\"exp\":" + (t + 600) + "}", typeof(MalformedTokenException), 0 },
                // An nbf beyond 64 bits is not yet valid, as at PyJWT and jose.
                { 0, "{\"sub\":\"s\",\"email\":\"e@x\",\"iss\":\"keldo\",\"exp\":" + (t + 600) + ",\"nbf\":9223372036854775808}", typeof(TokenNotYetValidException), 0 },
            };
        }

        [Theory]
        [MemberData(nameof(Refusals))]
        public void OnlyABadSignatureTriesTheNextKey(int signer, string payload, Type? refused, int position)
        {
            using var ring = new KeyRing(Secrets);
            string token = Signed(signer < 0 ? Bytes(40, 999) : Secrets[signer], payload);
            if (refused == null)
            {
                Assert.Equal(position, ring.Verify(token).Key);
                return;
            }
            Assert.Equal(refused, Assert.ThrowsAny<TokenException>(() => ring.Verify(token)).GetType());
            // With the signer's secret alone the answer is the same.
            if (signer >= 0)
                Assert.Equal(refused, Assert.ThrowsAny<TokenException>(() => KeldoJwt.Verify(token, Secrets[signer])).GetType());
        }

        [Fact]
        public void RingsHoldTheirOwnCopies()
        {
            var first = new TokenKey(Secrets[0]);
            var second = new TokenKey(Secrets[1]);
            using var ring = new KeyRing(first, second);
            string token = second.Mint("s", "e@x");
            first.Dispose();
            second.Dispose();
            Assert.Equal(1, ring.Verify(token).Key);
            Assert.Throws<ObjectDisposedException>(() => second.Mint("s", "e@x"));
            Assert.Throws<ObjectDisposedException>(() => KeldoJwt.Verify(token, first));
            Assert.Throws<ObjectDisposedException>(() => new KeyRing(first));
            ring.Dispose();
            Assert.Throws<ObjectDisposedException>(() => ring.Verify(token));
        }

        [Theory]
        [InlineData(0, false)] [InlineData(1, true)] [InlineData(16, true)] [InlineData(17, false)]
        public void KeyCountBoundIsTheLibrarys(int count, bool accepted)
        {
            var secrets = Enumerable.Range(0, count).Select(i => Bytes(32, i)).ToArray();
            if (accepted)
            {
                using var ring = new KeyRing(secrets);
                Assert.Equal(count, ring.Count);
                Assert.Equal(count - 1, ring.Verify(KeldoJwt.Mint(secrets[count - 1], "s", "e@x")).Key);
            }
            else
            {
                var e = Assert.Throws<KeldoArgumentException>(() => new KeyRing(secrets));
                Assert.StartsWith("jwt_verify: key count out of range", e.Message);
            }
        }

        [Fact]
        public void SecretRulesAsForSecrets()
        {
            Assert.Throws<KeldoArgumentException>(() => new TokenKey(new byte[31]));
            Assert.Throws<KeldoArgumentException>(() => new TokenKey(Array.Empty<byte>(), allowShortSecret: true));
            Assert.Throws<KeldoArgumentException>(() => new KeyRing(new[] { Secrets[0], new byte[5] }));
            Assert.Throws<ArgumentNullException>(() => new KeyRing(new byte[][] { null! }));
            using var shortKey = new TokenKey("short", allowShortSecret: true);
            Assert.Equal(SignatureOf(Utf8("short"), shortKey.Mint("s", "e@x")), shortKey.Mint("s", "e@x").Split('.')[2]);
            using var ring = new KeyRing(new[] { "current-secret-of-thirty-two-bytes!", "previous-secret-of-thirty-two-bytes" });
            Assert.Equal(1, ring.Verify(KeldoJwt.Mint("previous-secret-of-thirty-two-bytes", "s", "e@x")).Key);
        }

        [Fact]
        public void SpanRoadWithRing()
        {
            using var ring = new KeyRing(Secrets);
            var buffer = new byte[KeldoJwt.MaxTokenLength];
            int n = KeldoJwt.Mint(ring, Utf8("span"), Utf8("s@x"), buffer, 60);
            Assert.Equal(SignatureOf(Secrets[0], Encoding.ASCII.GetString(buffer, 0, n)), Encoding.ASCII.GetString(buffer, 0, n).Split('.')[2]);
            Assert.Equal("span", KeldoJwt.Verify(buffer.AsSpan(0, n), ring).Sub);
        }

        // The span road allocates the returned claims and nothing else (a
        // count of bytes, not a time): the same as making those claims.
        [Fact]
        public void SpanVerifyAllocatesOnlyTheClaims()
        {
            using var key = new TokenKey(Secrets[0]);
            byte[] token = Encoding.ASCII.GetBytes(key.Mint("user-42", "ada@example.org", 600));
            var buffer = new byte[KeldoJwt.MaxTokenLength];
            byte[] sub = Utf8("user-42"), email = Utf8("ada@example.org");
            for (int i = 0; i < 3; i++) { KeldoJwt.Verify(token, key); KeldoJwt.Mint(key, sub, email, buffer, 60); Claims(); }
            long before = GC.GetAllocatedBytesForCurrentThread();
            KeldoJwt.Verify(token, key);
            long verify = GC.GetAllocatedBytesForCurrentThread() - before;
            before = GC.GetAllocatedBytesForCurrentThread();
            Claims();
            long claims = GC.GetAllocatedBytesForCurrentThread() - before;
            before = GC.GetAllocatedBytesForCurrentThread();
            KeldoJwt.Mint(key, sub, email, buffer, 60);
            long mint = GC.GetAllocatedBytesForCurrentThread() - before;
            Assert.Equal(claims, verify);
            Assert.Equal(0, mint);

            KeldoClaims Claims() => new KeldoClaims(Encoding.UTF8.GetString(sub), Encoding.UTF8.GetString(email), 0, 0);
        }

        // One ring shared by every worker, tokens under each of its keys:
        // subjects and key positions never cross. No lock.
        [Fact]
        public void SharedRingAcrossThreads()
        {
            using var ring = new KeyRing(Secrets);
            var keys = Secrets.Select(s => new TokenKey(s)).ToArray();
            var crossed = new ConcurrentBag<string>();
            Parallel.For(0, 4000, new ParallelOptions { MaxDegreeOfParallelism = 16 }, i =>
            {
                int signer = i % keys.Length;
                string sub = "n" + i;
                KeldoClaims c = ring.Verify(keys[signer].Mint(sub, "e@x", 60));
                if (c.Sub != sub || c.Key != signer) crossed.Add(sub + " -> " + c.Sub + "/" + c.Key);
            });
            foreach (TokenKey k in keys) k.Dispose();
            Assert.Empty(crossed);
        }
    }
}
