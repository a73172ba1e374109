// A token round trip through the assembly of the NuGet package, its
// signature checked with .NET's HMACSHA256. Prints where the native
// libraries were loaded from: the package's runtimes/linux-x64/native/.
using System;
using System.IO;
using System.Linq;
using System.Security.Cryptography;
using System.Text;
using Keldo.Crypto;

static class Consumer
{
    static int Main()
    {
        byte[] secret = SHA256.Create().ComputeHash(Encoding.UTF8.GetBytes("release check"));
        string token = KeldoJwt.Mint(secret, "user-42", "user@example.com", 600);
        KeldoClaims claims = KeldoJwt.Verify(token, secret);
        if (claims.Sub != "user-42" || claims.Email != "user@example.com") return Fail("claims");
        int dot = token.LastIndexOf('.');
        byte[] mac = new HMACSHA256(secret).ComputeHash(Encoding.ASCII.GetBytes(token.Substring(0, dot)));
        string expected = Convert.ToBase64String(mac).TrimEnd('=').Replace('+', '-').Replace('/', '_');
        if (token.Substring(dot + 1) != expected) return Fail("signature differs from HMACSHA256's");
        var loaded = File.ReadAllLines("/proc/self/maps").Select(l => l.Split(' ').Last())
            .Where(p => p.Contains("libkeldo_crypto") || p.Contains("libyyjson")).Distinct().ToArray();
        Console.WriteLine("token round trip ok; loaded " + string.Join(" ", loaded));
        if (loaded.Length != 2 || !loaded.All(p => p.Contains("/runtimes/linux-x64/native/")))
            return Fail("the native libraries were not loaded from the package");
        return 0;
    }

    static int Fail(string what)
    {
        Console.Error.WriteLine("consumer: " + what);
        return 1;
    }
}
