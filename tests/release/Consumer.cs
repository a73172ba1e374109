// The program of a fresh `dotnet new console` project that took Keldo.Crypto
// with `dotnet add package`: a token round trip, its signature checked with
// .NET's HMACSHA256, and the native libraries checked to come from the
// folder given (the build output's runtimes/linux-x64/native/, or the
// application's folder after a self-contained publish), with no variable
// set and nothing installed on the system.
using System;
using System.IO;
using System.Linq;
using System.Security.Cryptography;
using System.Text;
using Keldo.Crypto;

byte[] secret = SHA256.HashData(Encoding.UTF8.GetBytes("release check"));
string token = KeldoJwt.Mint(secret, "user-42", "user@example.com", 600);
KeldoClaims claims = KeldoJwt.Verify(token, secret);
if (claims.Sub != "user-42" || claims.Email != "user@example.com") return Fail("claims");
int dot = token.LastIndexOf('.');
byte[] mac = HMACSHA256.HashData(secret, Encoding.ASCII.GetBytes(token.Substring(0, dot)));
if (token.Substring(dot + 1) != Convert.ToBase64String(mac).TrimEnd('=').Replace('+', '-').Replace('/', '_'))
    return Fail("signature differs from HMACSHA256's");
string want = Path.GetFullPath(args[0]).TrimEnd('/') + "/";
string[] loaded = File.ReadAllLines("/proc/self/maps").Select(l => l.Split(' ').Last())
    .Where(p => p.Contains("libkeldo_crypto") || p.Contains("libyyjson")).Distinct().ToArray();
Console.WriteLine("token round trip ok; loaded " + string.Join(" ", loaded));
if (loaded.Length != 2 || !loaded.All(p => Path.GetDirectoryName(p) + "/" == want))
    return Fail("the native libraries were not loaded from " + want);
return 0;

static int Fail(string what)
{
    Console.Error.WriteLine("consumer: " + what);
    return 1;
}
