using System;
using System.Collections.Generic;
using System.Text.RegularExpressions;
using Xunit;
using static Keldo.Crypto.Tests.Oracle;

namespace Keldo.Crypto.Tests
{
    public class EncodingTests
    {
        [Fact]
        public void Base64AgreesWithConvertForEveryLengthTo70()
        {
            for (int n = 0; n <= 70; n++)
            {
                byte[] data = Bytes(n, 300 + n);
                string b64 = Convert.ToBase64String(data);
                Assert.Equal(b64, KeldoCrypto.Base64Encode(data));
                Assert.Equal(B64Url(data), KeldoCrypto.Base64UrlEncode(data));
                Assert.Equal(data, KeldoCrypto.Base64Decode(b64));
                Assert.Equal(data, KeldoCrypto.Base64UrlDecode(B64Url(data)));
            }
        }

        [Theory]
        [InlineData("ab*d", false, "keldo_crypto_base64_decode: decode failed or buffer too small")]
        [InlineData("ab d", true, "keldo_crypto_base64url_decode: decode failed or buffer too small")]
        [InlineData("Zm9v\0Zm9v", false, "Base64Decode: text holds a NUL character")]
        public void DecodeRefusals(string text, bool url, string message)
        {
            var e = Assert.Throws<KeldoArgumentException>(() => url ? KeldoCrypto.Base64UrlDecode(text) : KeldoCrypto.Base64Decode(text));
            Assert.Equal(message, e.Message);
        }

        [Fact]
        public void LoneSurrogateText() =>
            Assert.Equal("Base64UrlDecode: text is not well-formed Unicode text",
                         Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.Base64UrlDecode("QU\ud800")).Message);

        [Fact]
        public void Uuid4FormAndDistinct()
        {
            var seen = new HashSet<string>();
            for (int i = 0; i < 1000; i++)
            {
                string u = KeldoCrypto.Uuid4();
                Assert.Matches("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$", u);
                seen.Add(u);
            }
            Assert.Equal(1000, seen.Count);
            Assert.True(Guid.TryParse(KeldoCrypto.Uuid4(), out _));
        }
    }
}
