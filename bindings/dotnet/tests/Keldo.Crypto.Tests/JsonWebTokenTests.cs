using System;
using System.Collections.Generic;
using System.Threading.Tasks;
using Microsoft.IdentityModel.JsonWebTokens;
using Microsoft.IdentityModel.Tokens;
using Xunit;
using static Keldo.Crypto.Tests.Oracle;

namespace Keldo.Crypto.Tests
{
    // Microsoft.IdentityModel.JsonWebTokens, the JWT library ASP.NET Core
    // uses, as the peer: each side's tokens checked by the other.
    public class JsonWebTokenTests
    {
        static readonly byte[] Secret = Bytes(48, 77);
        static readonly JsonWebTokenHandler Handler = new JsonWebTokenHandler();

        static TokenValidationParameters Parameters(byte[] secret) => new TokenValidationParameters {
            ValidIssuer = "keldo",
            ValidateAudience = false,
            IssuerSigningKey = new SymmetricSecurityKey(secret),
            ValidAlgorithms = new[] { SecurityAlgorithms.HmacSha256 },
            ClockSkew = TimeSpan.Zero,
        };

        static string Theirs(byte[] secret, IDictionary<string, object> claims, string issuer = "keldo", int expiresIn = 600,
                             int notBeforeIn = 0)
        {
            DateTime now = DateTime.UtcNow;
            return Handler.CreateToken(new SecurityTokenDescriptor {
                Claims = claims,
                Issuer = issuer,
                NotBefore = now.AddSeconds(notBeforeIn),
                IssuedAt = now.AddSeconds(Math.Min(0, notBeforeIn)),
                Expires = now.AddSeconds(expiresIn),
                SigningCredentials = new SigningCredentials(new SymmetricSecurityKey(secret), SecurityAlgorithms.HmacSha256),
            });
        }

        [Theory]
        [InlineData("alice", "alice@example.org")]
        [InlineData("ünïcödé-ß", "ω@example.org")]
        [InlineData("a \"quoted\" \\ sub", "tab\there@x")]
        public async Task OursValidateThere(string sub, string email)
        {
            string token = KeldoJwt.Mint(Secret, sub, email, 300);
            TokenValidationResult r = await Handler.ValidateTokenAsync(token, Parameters(Secret));
            Assert.True(r.IsValid, r.Exception?.Message);
            Assert.Equal(sub, r.Claims["sub"]);
            Assert.Equal(email, r.Claims["email"]);
            Assert.Equal("keldo", r.Claims["iss"]);
            Assert.Equal(KeldoJwt.Verify(token, Secret).Exp, Convert.ToInt64(r.Claims["exp"]));
        }

        [Fact]
        public async Task OursUnderAnotherKeyFailThere()
        {
            string token = KeldoJwt.Mint(Secret, "alice", "a@x", 300);
            TokenValidationResult r = await Handler.ValidateTokenAsync(token, Parameters(Bytes(48, 78)));
            Assert.False(r.IsValid);
            Assert.IsAssignableFrom<SecurityTokenSignatureKeyNotFoundException>(r.Exception);
        }

        [Theory]
        [InlineData("bob", "bob@example.org")]
        [InlineData("ünï/+=", "é@x")]
        public void TheirsVerifyHere(string sub, string email)
        {
            string token = Theirs(Secret, new Dictionary<string, object> { ["sub"] = sub, ["email"] = email });
            KeldoClaims c = KeldoJwt.Verify(token, Secret);
            Assert.Equal((sub, email), (c.Sub, c.Email));
            Assert.Equal(Handler.ReadJsonWebToken(token).ValidTo, DateTimeOffset.FromUnixTimeSeconds(c.Exp).UtcDateTime);
        }

        // Their tokens that both sides refuse, each for its own reason.
        public static TheoryData<string, Type> TheirRefused() => new TheoryData<string, Type> {
            { Theirs(Bytes(48, 79), new Dictionary<string, object> { ["sub"] = "x", ["email"] = "e@x" }), typeof(BadSignatureException) },
            { Theirs(Secret, new Dictionary<string, object> { ["sub"] = "x", ["email"] = "e@x" }, expiresIn: -10, notBeforeIn: -100), typeof(TokenExpiredException) },
            { Theirs(Secret, new Dictionary<string, object> { ["sub"] = "x", ["email"] = "e@x" }, notBeforeIn: 300, expiresIn: 600), typeof(TokenNotYetValidException) },
            { Theirs(Secret, new Dictionary<string, object> { ["sub"] = "x", ["email"] = "e@x" }, issuer: "other"), typeof(InvalidClaimsException) },
        };

        [Theory]
        [MemberData(nameof(TheirRefused))]
        public async Task RefusedOnBothSides(string token, Type type)
        {
            Assert.Equal(type, Assert.ThrowsAny<TokenException>(() => KeldoJwt.Verify(token, Secret)).GetType());
            Assert.False((await Handler.ValidateTokenAsync(token, Parameters(Secret))).IsValid);
        }

        // Their token without our claims is one they accept and we refuse:
        // this library's fixed claim set.
        [Fact]
        public async Task MissingEmailIsOurRefusalOnly()
        {
            string token = Theirs(Secret, new Dictionary<string, object> { ["sub"] = "x" });
            Assert.True((await Handler.ValidateTokenAsync(token, Parameters(Secret))).IsValid);
            Assert.Equal("jwt_verify: missing 'email' claim", Assert.Throws<InvalidClaimsException>(() => KeldoJwt.Verify(token, Secret)).Message);
        }
    }
}
