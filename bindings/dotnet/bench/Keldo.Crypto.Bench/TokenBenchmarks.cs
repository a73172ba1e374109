using System;
using System.Collections.Generic;
using System.Security.Cryptography;
using System.Text;
using System.Threading.Tasks;
using BenchmarkDotNet.Attributes;
using Microsoft.IdentityModel.JsonWebTokens;
using Microsoft.IdentityModel.Tokens;

namespace Keldo.Crypto.Bench
{
    // Verify and mint the same claims (sub, email, iss, exp, nbf) under the
    // same 32-byte key, beside JsonWebTokenHandler, the JWT library ASP.NET
    // Core's JwtBearer uses, validating HS256 with the same checks (issuer,
    // lifetime, signature; no audience).
    [MemoryDiagnoser]
    public class TokenBenchmarks
    {
        static readonly byte[] Secret = SHA256.HashData(Encoding.UTF8.GetBytes("benchmark key"));
        readonly JsonWebTokenHandler handler = new JsonWebTokenHandler();
        TokenValidationParameters parameters = null!;
        SecurityTokenDescriptor descriptor = null!;
        TokenKey key = null!;
        KeyRing ring4 = null!;
        string token = null!, tokenUnderFourth = null!;
        byte[] tokenBytes = null!;
        readonly byte[] destination = new byte[KeldoJwt.MaxTokenLength];
        static readonly byte[] Sub = Encoding.UTF8.GetBytes("user-42"), Email = Encoding.UTF8.GetBytes("ada@example.org");

        [GlobalSetup]
        public void Setup()
        {
            var sk = new SymmetricSecurityKey(Secret);
            parameters = new TokenValidationParameters {
                ValidIssuer = "keldo", ValidateAudience = false, IssuerSigningKey = sk,
                ValidAlgorithms = new[] { SecurityAlgorithms.HmacSha256 }, ClockSkew = TimeSpan.Zero };
            descriptor = new SecurityTokenDescriptor {
                Claims = new Dictionary<string, object> { ["sub"] = "user-42", ["email"] = "ada@example.org" },
                Issuer = "keldo", Expires = DateTime.UtcNow.AddDays(30),
                SigningCredentials = new SigningCredentials(sk, SecurityAlgorithms.HmacSha256) };
            key = new TokenKey(Secret);
            byte[][] others = { SHA256.HashData(new byte[] { 1 }), SHA256.HashData(new byte[] { 2 }), SHA256.HashData(new byte[] { 3 }) };
            ring4 = new KeyRing(others[0], others[1], others[2], Secret);
            token = KeldoJwt.Mint(Secret, "user-42", "ada@example.org", 30 * 86400);
            tokenUnderFourth = token;
            tokenBytes = Encoding.ASCII.GetBytes(token);
            if (!handler.ValidateTokenAsync(token, parameters).Result.IsValid) throw new InvalidOperationException("peer refuses our token");
        }

        [GlobalCleanup]
        public void Cleanup()
        {
            key.Dispose();
            ring4.Dispose();
        }

        [Benchmark(Description = "JsonWebTokenHandler.ValidateTokenAsync")]
        [BenchmarkCategory("verify")]
        public async Task<bool> VerifyPeer() => (await handler.ValidateTokenAsync(token, parameters)).IsValid;

        [Benchmark(Description = "KeldoJwt.Verify(string, byte[] secret)")]
        [BenchmarkCategory("verify")]
        public KeldoClaims VerifySecret() => KeldoJwt.Verify(token, Secret);

        [Benchmark(Description = "KeldoJwt.Verify(string, TokenKey)")]
        [BenchmarkCategory("verify")]
        public KeldoClaims VerifyKey() => KeldoJwt.Verify(token, key);

        [Benchmark(Description = "KeldoJwt.Verify(ReadOnlySpan<byte>, TokenKey)")]
        [BenchmarkCategory("verify")]
        public KeldoClaims VerifySpanKey() => KeldoJwt.Verify(tokenBytes, key);

        [Benchmark(Description = "KeldoJwt.Verify(string, KeyRing of 4), 4th key")]
        [BenchmarkCategory("verify")]
        public KeldoClaims VerifyRingFourth() => KeldoJwt.Verify(tokenUnderFourth, ring4);

        [Benchmark(Description = "JsonWebTokenHandler.CreateToken")]
        [BenchmarkCategory("mint")]
        public string MintPeer() => handler.CreateToken(descriptor);

        [Benchmark(Description = "KeldoJwt.Mint(byte[] secret, ...)")]
        [BenchmarkCategory("mint")]
        public string MintSecret() => KeldoJwt.Mint(Secret, "user-42", "ada@example.org", 3600);

        [Benchmark(Description = "KeldoJwt.Mint(TokenKey, ...)")]
        [BenchmarkCategory("mint")]
        public string MintKey() => KeldoJwt.Mint(key, "user-42", "ada@example.org", 3600);

        [Benchmark(Description = "KeldoJwt.Mint(TokenKey, spans, Span<byte>)")]
        [BenchmarkCategory("mint")]
        public int MintSpanKey() => KeldoJwt.Mint(key, Sub, Email, destination, 3600);
    }

    // One PBKDF2-HMAC-SHA256 derivation of a 32-byte key, the work of a
    // password hash, beside .NET's own (which calls the platform's crypto
    // library: OpenSSL on Linux).
    [MemoryDiagnoser]
    [WarmupCount(2)]
    [IterationCount(8)]
    public class Pbkdf2Benchmarks
    {
        static readonly byte[] Password = Encoding.UTF8.GetBytes("correct horse battery staple");
        static readonly byte[] Salt = SHA256.HashData(Encoding.UTF8.GetBytes("salt"))[..16];
        readonly byte[] output = new byte[32];

        [Params(600000)]
        public int Iterations { get; set; }

        [Benchmark(Baseline = true, Description = "Rfc2898DeriveBytes.Pbkdf2 (SHA-256)")]
        public byte[] Peer() => Rfc2898DeriveBytes.Pbkdf2(Password, Salt, Iterations, HashAlgorithmName.SHA256, 32);

        [Benchmark(Description = "KeldoCrypto.Pbkdf2Sha256")]
        public byte[] Ours()
        {
            KeldoCrypto.Pbkdf2Sha256(Password, Salt, (uint)Iterations, output);
            return output;
        }
    }
}
