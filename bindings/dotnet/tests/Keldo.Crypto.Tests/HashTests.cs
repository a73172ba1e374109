using System;
using System.Linq;
using System.Security.Cryptography;
using Xunit;
using static Keldo.Crypto.Tests.Oracle;

namespace Keldo.Crypto.Tests
{
    public class HashTests
    {
        [Fact]
        public void Sha256PublishedVector() =>
            Assert.Equal("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hex(KeldoCrypto.Sha256(Utf8("abc"))));

        // Lengths around the 55/56 and 64-byte block edges of the padding.
        [Theory]
        [InlineData(0)] [InlineData(1)] [InlineData(55)] [InlineData(56)] [InlineData(63)] [InlineData(64)]
        [InlineData(65)] [InlineData(127)] [InlineData(128)] [InlineData(1000)] [InlineData(4097)]
        public void Sha256AgreesWithDotNet(int n)
        {
            byte[] data = Bytes(n, n);
            Assert.Equal(SHA256.HashData(data), KeldoCrypto.Sha256(data));
            var span = new byte[40];
            KeldoCrypto.Sha256(data.AsSpan(), span.AsSpan(4));
            Assert.Equal(SHA256.HashData(data), span.AsSpan(4, 32).ToArray());
            Assert.All(span.Take(4).Concat(span.Skip(36)), b => Assert.Equal(0, b));
        }

        [Fact]
        public void HmacPublishedVector() =>
            Assert.Equal("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
                         Hex(KeldoCrypto.HmacSha256(Utf8("Jefe"), Utf8("what do ya want for nothing?"))));

        // Keys below, at and above the 64-byte block (hashed first).
        [Theory]
        [InlineData(0, 0)] [InlineData(1, 1)] [InlineData(32, 64)] [InlineData(64, 1000)] [InlineData(65, 0)] [InlineData(131, 64)]
        public void HmacAgreesWithDotNet(int keyLength, int dataLength)
        {
            byte[] key = Bytes(keyLength, 1000 + keyLength), data = Bytes(dataLength, 2000 + dataLength);
            Assert.Equal(HMACSHA256.HashData(key, data), KeldoCrypto.HmacSha256(key, data));
            Span<byte> mac = stackalloc byte[32];
            KeldoCrypto.HmacSha256(key, data, mac);
            Assert.Equal(HMACSHA256.HashData(key, data), mac.ToArray());
        }

        [Fact]
        public void Pbkdf2PublishedVector() =>
            Assert.Equal("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc" +
                         "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783",
                         Hex(KeldoCrypto.Pbkdf2Sha256(Utf8("passwd"), Utf8("salt"), 1, 64)));

        // Output lengths across the 32-byte block, empty password, long salt.
        [Theory]
        [InlineData(8, 8, 1, 32)] [InlineData(8, 8, 4096, 20)] [InlineData(0, 16, 3, 1)] [InlineData(100, 16, 10, 33)]
        [InlineData(2, 300, 3, 64)] [InlineData(65, 0, 2, 96)]
        public void Pbkdf2AgreesWithDotNet(int passwordLength, int saltLength, int iterations, int length)
        {
            byte[] pw = Bytes(passwordLength, 3), salt = Bytes(saltLength, 4);
            byte[] want = Rfc2898DeriveBytes.Pbkdf2(pw, salt, iterations, HashAlgorithmName.SHA256, length);
            Assert.Equal(want, KeldoCrypto.Pbkdf2Sha256(pw, salt, (uint)iterations, length));
            var key = new byte[length];
            KeldoCrypto.Pbkdf2Sha256(pw.AsSpan(), salt.AsSpan(), (uint)iterations, key.AsSpan());
            Assert.Equal(want, key);
        }

        [Fact]
        public void Refusals()
        {
            Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.Pbkdf2Sha256(Utf8("p"), Utf8("s"), 0));
            Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.Pbkdf2Sha256(Utf8("p"), Utf8("s"), 1, 0));
            Assert.Throws<ArgumentNullException>(() => KeldoCrypto.Sha256(null!));
            Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.Sha256(new byte[1], new byte[31]));
            Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.HmacSha256(new byte[1], new byte[1], new byte[31]));
        }

        public static TheoryData<byte[], byte[], bool> Comparisons()
        {
            byte[] last = Bytes(64, 1);
            last[63] ^= 1;
            byte[] first = Bytes(64, 1);
            first[0] ^= 0x80;
            return new TheoryData<byte[], byte[], bool> {
                { Array.Empty<byte>(), Array.Empty<byte>(), true },
                { Bytes(64, 1), Bytes(64, 1), true },
                { Bytes(64, 1), last, false },
                { Bytes(64, 1), first, false },
                { Utf8("abc"), Utf8("ab"), false },
            };
        }

        [Theory]
        [MemberData(nameof(Comparisons))]
        public void CompareDigest(byte[] a, byte[] b, bool equal)
        {
            Assert.Equal(equal, KeldoCrypto.CompareDigest(a, b));
            Assert.Equal(equal, KeldoCrypto.CompareDigest(a.AsSpan(), b.AsSpan()));
        }
    }
}
