using System;
using System.Collections.Generic;
using System.Linq;
using System.Net.Http;
using System.Security.Claims;
using System.Security.Cryptography;
using System.Text;
using System.Threading.Tasks;
using Keldo.Crypto.AspNetCore;
using Microsoft.AspNetCore.Authentication.JwtBearer;
using Microsoft.AspNetCore.Authorization;
using Microsoft.AspNetCore.Builder;
using Microsoft.AspNetCore.Hosting;
using Microsoft.AspNetCore.Hosting.Server;
using Microsoft.AspNetCore.Hosting.Server.Features;
using Microsoft.AspNetCore.Http;
using Microsoft.AspNetCore.Mvc;
using Microsoft.Extensions.DependencyInjection;
using Microsoft.Extensions.Logging;
using Microsoft.IdentityModel.JsonWebTokens;
using Microsoft.IdentityModel.Tokens;
using Xunit;
using Xunit.Abstractions;

namespace Keldo.Crypto.AspNetCore.Tests
{
    [ApiController]
    [Route("me")]
    [Authorize]
    public class MeController : ControllerBase
    {
        [HttpGet]
        public string Get() => Who(User);

        internal static string Who(ClaimsPrincipal u) =>
            u.FindFirstValue(ClaimTypes.NameIdentifier) + " " + u.FindFirstValue(ClaimTypes.Email) + " " + u.FindFirstValue("exp");
    }

    // Two applications on Kestrel (127.0.0.1, a free port each), one
    // authenticating with AddKeldoJwt, the other with ASP.NET Core's own
    // JwtBearer configured for HS256, our issuer, the same two keys and no
    // clock skew; every request is sent to both and the answers compared.
    public sealed class Servers : IAsyncLifetime
    {
        internal static readonly byte[] Current = SHA256.HashData(Encoding.UTF8.GetBytes("current key"));
        internal static readonly byte[] Previous = SHA256.HashData(Encoding.UTF8.GetBytes("previous key"));
        internal KeyRing Ring = null!;
        internal WebApplication Ours = null!, Theirs = null!;
        internal HttpClient OursClient = null!, TheirsClient = null!;

        public async Task InitializeAsync()
        {
            Ring = new KeyRing(Current, Previous);
            (Ours, OursClient) = await Start(b => b.Services.AddAuthentication().AddKeldoJwt(o => o.KeyRing = Ring));
            (Theirs, TheirsClient) = await Start(b => b.Services.AddAuthentication().AddJwtBearer(o => {
                o.TokenValidationParameters = new TokenValidationParameters {
                    ValidIssuer = "keldo", ValidateAudience = false,
                    IssuerSigningKeys = new[] { new SymmetricSecurityKey(Current), new SymmetricSecurityKey(Previous) },
                    ValidAlgorithms = new[] { SecurityAlgorithms.HmacSha256 }, ClockSkew = TimeSpan.Zero };
            }));
        }

        static async Task<(WebApplication, HttpClient)> Start(Action<WebApplicationBuilder> authentication)
        {
            WebApplicationBuilder builder = WebApplication.CreateBuilder();
            builder.WebHost.UseUrls("http://127.0.0.1:0");
            builder.Logging.ClearProviders();
            authentication(builder);
            builder.Services.AddAuthorization();
            builder.Services.AddControllers().AddApplicationPart(typeof(MeController).Assembly);
            WebApplication app = builder.Build();
            app.UseAuthentication();
            app.UseAuthorization();
            app.MapGet("/minimal", (ClaimsPrincipal u) => MeController.Who(u)).RequireAuthorization();
            app.MapGet("/open", () => "open");
            app.MapControllers();
            await app.StartAsync();
            string address = app.Services.GetRequiredService<IServer>().Features.Get<IServerAddressesFeature>()!.Addresses.First();
            return (app, new HttpClient { BaseAddress = new Uri(address) });
        }

        public async Task DisposeAsync()
        {
            OursClient.Dispose();
            TheirsClient.Dispose();
            await Ours.StopAsync();
            await Theirs.StopAsync();
            await Ours.DisposeAsync();
            await Theirs.DisposeAsync();
            Ring.Dispose();
        }
    }

    public class AuthenticationComparisonTests : IClassFixture<Servers>
    {
        readonly Servers servers;
        readonly ITestOutputHelper output;

        public AuthenticationComparisonTests(Servers servers, ITestOutputHelper output)
        {
            this.servers = servers;
            this.output = output;
        }

        static string B64Url(byte[] b) => Convert.ToBase64String(b).TrimEnd('=').Replace('+', '-').Replace('/', '_');
        static long Now() => DateTimeOffset.UtcNow.ToUnixTimeSeconds();

        static string Signed(byte[] key, string payload, string header = "{\"alg\":\"HS256\",\"typ\":\"JWT\"}")
        {
            string input = B64Url(Encoding.UTF8.GetBytes(header)) + "." + B64Url(Encoding.UTF8.GetBytes(payload));
            byte[] mac = header.Contains("HS512") ? HMACSHA512.HashData(key, Encoding.ASCII.GetBytes(input))
                                                  : HMACSHA256.HashData(key, Encoding.ASCII.GetBytes(input));
            return input + "." + B64Url(mac);
        }

        static string Payload(string? sub = "alice", string? email = "alice@example.org", string? iss = "keldo", long? exp = 600, long? nbf = 0)
        {
            long t = Now();
            var parts = new List<string>();
            if (sub != null) parts.Add("\"sub\":\"" + sub + "\"");
            if (email != null) parts.Add("\"email\":\"" + email + "\"");
            if (iss != null) parts.Add("\"iss\":\"" + iss + "\"");
            if (exp != null) parts.Add("\"exp\":" + (t + exp));
            if (nbf != null) parts.Add("\"nbf\":" + (t + nbf));
            return "{" + string.Join(",", parts) + "}";
        }

        // name, path, Authorization header (null: none), then what each
        // handler answers: status, and the challenge's error parameter.
        // Where the two differ the last column says why.
        public static IEnumerable<object?[]> Cases()
        {
            byte[] cur = Servers.Current, prev = Servers.Previous;
            string valid = KeldoJwt.Mint(cur, "alice", "alice@example.org", 600);
            string[] v = valid.Split('.');
            string jwtHandlers = new JsonWebTokenHandler().CreateToken(new SecurityTokenDescriptor {
                Claims = new Dictionary<string, object> { ["sub"] = "bob", ["email"] = "bob@example.org" }, Issuer = "keldo",
                Expires = DateTime.UtcNow.AddMinutes(10),
                SigningCredentials = new SigningCredentials(new SymmetricSecurityKey(cur), SecurityAlgorithms.HmacSha256) });
            long t = Now();
            object?[] Row(string name, string? header, int ours, string? oursError, int theirs, string? theirsError,
                          string path = "/me", string? why = null) =>
                new object?[] { name, path, header, ours, oursError, theirs, theirsError, why };
            return new[] {
                Row("no Authorization header", null, 401, null, 401, null),
                Row("Bearer with no token", "Bearer", 401, null, 401, null),
                Row("Basic credentials", "Basic dXNlcjpwYXNz", 401, null, 401, null),
                Row("valid token (ours)", "Bearer " + valid, 200, null, 200, null),
                Row("valid token, minimal API", "Bearer " + valid, 200, null, 200, null, "/minimal"),
                Row("scheme in lower case", "bearer " + valid, 200, null, 200, null),
                Row("spaces around the token", "Bearer   " + valid + "  ", 200, null, 200, null),
                Row("valid token (JsonWebTokenHandler's, with iat)", "Bearer " + jwtHandlers, 200, null, 200, null),
                Row("valid token under the previous key", "Bearer " + KeldoJwt.Mint(prev, "carol", "c@x", 600), 200, null, 200, null),
                Row("expired", "Bearer " + Signed(cur, Payload(exp: -10, nbf: -100)), 401, "invalid_token", 401, "invalid_token"),
                Row("expired a second ago (no clock skew)", "Bearer " + Signed(cur, Payload(exp: -1, nbf: -100)), 401, "invalid_token", 401, "invalid_token"),
                Row("not valid yet", "Bearer " + Signed(cur, Payload(exp: 900, nbf: 300)), 401, "invalid_token", 401, "invalid_token"),
                Row("unknown key", "Bearer " + Signed(SHA256.HashData(new byte[] { 1 }), Payload()), 401, "invalid_token", 401, "invalid_token"),
                Row("wrong issuer", "Bearer " + Signed(cur, Payload(iss: "other")), 401, "invalid_token", 401, "invalid_token"),
                Row("no issuer", "Bearer " + Signed(cur, Payload(iss: null)), 401, "invalid_token", 401, "invalid_token"),
                Row("no exp", "Bearer " + Signed(cur, Payload(exp: null)), 401, "invalid_token", 401, "invalid_token"),
                Row("no nbf", "Bearer " + Signed(cur, Payload(nbf: null)), 200, null, 200, null),
                Row("alg none, no signature", "Bearer " + B64Url(Encoding.UTF8.GetBytes("{\"alg\":\"none\",\"typ\":\"JWT\"}")) + "." + v[1] + ".",
                    401, "invalid_token", 401, "invalid_token"),
                Row("HS512 under the same key", "Bearer " + Signed(cur, Payload(), "{\"alg\":\"HS512\",\"typ\":\"JWT\"}"), 401, "invalid_token", 401, "invalid_token"),
                Row("payload altered", "Bearer " + v[0] + "." + B64Url(Encoding.UTF8.GetBytes(Payload(sub: "mallory"))) + "." + v[2],
                    401, "invalid_token", 401, "invalid_token"),
                Row("signature truncated", "Bearer " + v[0] + "." + v[1] + "." + v[2].Substring(0, 30), 401, "invalid_token", 401, "invalid_token"),
                Row("four segments", "Bearer " + valid + ".x", 401, "invalid_token", 401, "invalid_token"),
                Row("not a token", "Bearer abc", 401, "invalid_token", 401, "invalid_token"),
                Row("two Authorization headers", "Bearer " + valid + "\nBearer " + valid, 401, "invalid_token", 401, "invalid_token"),
                Row("bad token, anonymous endpoint", "Bearer abc", 200, null, 200, null, "/open"),
                Row("no email claim", "Bearer " + Signed(cur, Payload(email: null)), 401, "invalid_token", 200, null, "/me",
                    "this library's fixed claim set: sub, email, iss, exp are required"),
                Row("sub of 64 bytes", "Bearer " + Signed(cur, Payload(sub: new string('s', 64))), 401, "invalid_token", 200, null, "/me",
                    "the library's bound on sub (63 bytes), which every token it mints keeps"),
                Row("exp repeated, the last one past", "Bearer " + Signed(cur, Payload().TrimEnd('}') + ",\"exp\":1}"), 401, "invalid_token",
                    401, "invalid_token"),
                Row("exp repeated, the last one future", "Bearer " + Signed(cur, "{\"sub\":\"a\",\"email\":\"e@x\",\"iss\":\"keldo\",\"exp\":1,\"exp\":" + (t + 600) + "}"),
                    401, "invalid_token", 200, null, "/me", "a payload repeating a member name is refused here; JwtBearer reads the last"),
                Row("nbf at 2^63", "Bearer " + Signed(cur, Payload(nbf: null).TrimEnd('}') + ",\"nbf\":9223372036854775808}"), 401, "invalid_token",
                    401, "invalid_token"),
            }.Where(r => r != null);
        }

        static async Task<(int Status, string? Error, string Body, string Challenge)> Send(HttpClient client, string path, string? header)
        {
            using var request = new HttpRequestMessage(HttpMethod.Get, path);
            if (header != null)
                foreach (string h in header.Split('\n')) request.Headers.TryAddWithoutValidation("Authorization", h);
            using HttpResponseMessage r = await client.SendAsync(request);
            string challenge = string.Join(", ", r.Headers.WwwAuthenticate.Select(h => h.ToString()));
            string? error = null;
            int at = challenge.IndexOf("error=\"", StringComparison.Ordinal);
            if (at >= 0) error = challenge.Substring(at + 7, challenge.IndexOf('"', at + 7) - at - 7);
            return ((int)r.StatusCode, error, await r.Content.ReadAsStringAsync(), challenge);
        }

        [Theory]
        [MemberData(nameof(Cases))]
        public async Task SameAnswerAsJwtBearer(string name, string path, string? header, int ours, string? oursError, int theirs,
                                                string? theirsError, string? why)
        {
            var a = await Send(servers.OursClient, path, header);
            var b = await Send(servers.TheirsClient, path, header);
            output.WriteLine($"| {name} | {a.Status} {a.Error} | {b.Status} {b.Error} | {why ?? "same"} |");
            output.WriteLine("  ours: " + a.Challenge + " " + a.Body + " / JwtBearer: " + b.Challenge + " " + b.Body);
            Assert.Equal((ours, oursError), (a.Status, a.Error));
            Assert.Equal((theirs, theirsError), (b.Status, b.Error));
            if (why == null) Assert.Equal((b.Status, b.Error), (a.Status, a.Error));
            if (a.Status == 200 && b.Status == 200) Assert.Equal(b.Body, a.Body);
            if (a.Status == 401) Assert.StartsWith("Bearer", a.Challenge);
        }

        // The challenge names the kind of refusal (RFC 6750 section 3).
        [Theory]
        [InlineData("expired", "The token has expired")]
        [InlineData("unknown key", "The signature is invalid")]
        [InlineData("not a token", "The token is malformed")]
        [InlineData("wrong issuer", "The token's claims are invalid (invalid or missing 'iss' claim)")]
        [InlineData("not valid yet", "The token is not valid yet")]
        public async Task ChallengeNamesTheKind(string name, string description)
        {
            object?[] row = Cases().Single(r => (string)r[0]! == name);
            var a = await Send(servers.OursClient, (string)row[1]!, (string?)row[2]);
            Assert.Equal("Bearer error=\"invalid_token\", error_description=\"" + description + "\"", a.Challenge);
        }

        [Fact]
        public async Task KeyPositionAndClaims()
        {
            var (status, _, body, _) = await Send(servers.OursClient, "/me", "Bearer " + KeldoJwt.Mint(Servers.Previous, "dave", "d@x", 60));
            Assert.Equal(200, status);
            Assert.StartsWith("dave d@x ", body);
        }
    }
}
