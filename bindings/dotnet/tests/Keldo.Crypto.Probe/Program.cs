// Prints the assembly's target, then either a token round trip's claims and
// where the library was loaded from, or the exception's type and message.
using System;
using System.Reflection;
using System.Runtime.Versioning;
using Keldo.Crypto;

string? target = typeof(KeldoJwt).Assembly.GetCustomAttribute<TargetFrameworkAttribute>()?.FrameworkName;
try
{
    byte[] key = new byte[32];
    KeldoClaims c = KeldoJwt.Verify(KeldoJwt.Mint(key, "probe", "p@x", 60), key);
    Console.WriteLine(target + ": " + c.Sub + " " + c.Email + " " + HmacAgrees(key));
    return 0;
}
catch (KeldoException e)
{
    Console.WriteLine(target + ": " + e.GetType().Name + ": " + e.Message);
    return 2;
}

static bool HmacAgrees(byte[] key) =>
    Convert.ToHexString(KeldoCrypto.HmacSha256(key, new byte[] { 1, 2, 3 })) ==
    Convert.ToHexString(System.Security.Cryptography.HMACSHA256.HashData(key, new byte[] { 1, 2, 3 }));
