using System;
using System.Security.Cryptography;
using System.Text.RegularExpressions;
using Xunit;
using static Keldo.Crypto.Tests.Oracle;

namespace Keldo.Crypto.Tests
{
    public class PasswordTests
    {
        static byte[] Key(byte[] pw, byte[] salt, int it, int len = 32) =>
            Rfc2898DeriveBytes.Pbkdf2(pw, salt, it, HashAlgorithmName.SHA256, len);

        static string B64(byte[] b) => Convert.ToBase64String(b).TrimEnd('=');

        static string Phc(byte[] pw, byte[] salt, int it, int len = 32) =>
            "$pbkdf2-sha256$i=" + it + "$" + B64(salt) + "$" + B64(Key(pw, salt, it, len));

        static string Django(string pw, string salt, int it) =>
            "pbkdf2_sha256$" + it + "$" + salt + "$" + Convert.ToBase64String(Key(Utf8(pw), Utf8(salt), it));

        static string Passlib(byte[] pw, byte[] salt, int it) =>
            "$pbkdf2-sha256$" + it + "$" + B64(salt).Replace('+', '.') + "$" + B64(Key(pw, salt, it)).Replace('+', '.');

        static string Werkzeug(string pw, string salt, int it) =>
            "pbkdf2:sha256:" + it + "$" + salt + "$" + Hex(Key(Utf8(pw), Utf8(salt), it));

        [Fact]
        public void OwnHashIsPbkdf2AsDotNetComputesIt()
        {
            string stored = KeldoCrypto.HashPassword("correct horse", 1000);
            Match m = Regex.Match(stored, @"^\$pbkdf2-sha256\$i=1000\$([A-Za-z0-9+/]{22})\$([A-Za-z0-9+/]{43})$");
            Assert.True(m.Success, stored);
            byte[] salt = Convert.FromBase64String(m.Groups[1].Value + "==");
            Assert.Equal(B64(Key(Utf8("correct horse"), salt, 1000)), m.Groups[2].Value);
            Assert.True(KeldoCrypto.VerifyPassword("correct horse", stored));
            Assert.False(KeldoCrypto.VerifyPassword("correct horsf", stored));
            Assert.True(KeldoCrypto.VerifyPassword(Utf8("correct horse"), stored));
            Assert.NotEqual(stored, KeldoCrypto.HashPassword("correct horse", 1000));
        }

        public static TheoryData<string, string> Foreign() => new TheoryData<string, string> {
            { Phc(Utf8("hunter2"), Bytes(16, 9), 1000), "hunter2" },
            { Django("hunter2", "seasalt1", 1200), "hunter2" },
            { Django("pässwörd", "Xz9abcdefg", 10), "pässwörd" },
            { Passlib(Utf8("hunter2"), new byte[] { 0xfb, 0xff, 0xfe, 0, 1, 2, 3, 4, 5, 6, 7, 8 }, 7), "hunter2" },
            { Werkzeug("hunter2", "Qx9saltQ", 6), "hunter2" },
        };

        [Theory]
        [MemberData(nameof(Foreign))]
        public void ForeignFormsVerify(string stored, string password)
        {
            Assert.True(KeldoCrypto.VerifyPassword(password, stored));
            Assert.False(KeldoCrypto.VerifyPassword(password + "!", stored));
        }

        public static TheoryData<string> Malformed()
        {
            string good = Phc(Utf8("pw"), Bytes(16, 7), 10);
            string[] f = good.Split('$');
            return new TheoryData<string> {
                "plain", "$pbkdf2-sha256$i=10$" + f[3], "$pbkdf2-sha256$i=0$" + f[3] + "$" + f[4],
                "$pbkdf2-sha256$i=100000001$" + f[3] + "$" + f[4], "$pbkdf2-sha256$i=10$" + f[3] + "==$" + f[4],
                "$pbkdf2-sha256$i=10$" + f[3] + "$" + f[4].Substring(0, 42) + "x",
                Phc(Utf8("pw"), Bytes(16, 7), 10, 16), Phc(Utf8("pw"), Bytes(16, 7), 10, 64),
                "pbkdf2_sha256$10$$" + f[4], "pbkdf2_sha256$10$salt", "pbkdf2_sha256$0$saltsalt$" + f[4] + "=",
                good + "\0",
            };
        }

        [Theory]
        [MemberData(nameof(Malformed))]
        public void MalformedStoredHashes(string stored)
        {
            Assert.Throws<MalformedHashException>(() => KeldoCrypto.VerifyPassword("pw", stored));
            Assert.Throws<MalformedHashException>(() => KeldoCrypto.NeedsRehash(stored));
        }

        [Fact]
        public void LoneSurrogateStored()
        {
            Assert.Throws<MalformedHashException>(() => KeldoCrypto.VerifyPassword("pw", "$pbkdf2-sha256$i=1$\udc00$x"));
            Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.VerifyPassword("p\ud800", "$pbkdf2-sha256$i=1$c2FsdA$x"));
        }

        [Fact]
        public void RehashAndLimits()
        {
            // At login an over-long password is a wrong password, not an error.
            Assert.False(KeldoCrypto.VerifyPassword(new string('p', 5000), Django(new string('p', 5000), "saltsalt", 1)));
            Assert.True(KeldoCrypto.NeedsRehash(Phc(Utf8("pw"), Bytes(16, 7), 1000)));
            Assert.False(KeldoCrypto.NeedsRehash(Phc(Utf8("pw"), Bytes(16, 7), 1000), 1000));
            Assert.True(KeldoCrypto.NeedsRehash(Django("pw", "saltsalt", 900000)));
            Assert.Throws<ArgumentNullException>(() => KeldoCrypto.VerifyPassword("pw", null!));
            Assert.Equal("HashPassword: the password is empty",
                         Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.HashPassword("")).Message);
            Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.HashPassword(new string('p', 4097), 1));
            Assert.Throws<ArgumentOutOfRangeException>(() => KeldoCrypto.HashPassword("pw", 0));
            Assert.Throws<ArgumentOutOfRangeException>(() => KeldoCrypto.HashPassword("pw", 100000001));
            Assert.False(KeldoCrypto.VerifyPassword(ReadOnlySpan<byte>.Empty, Phc(Utf8("pw"), Bytes(16, 7), 10)));
        }
    }
}
