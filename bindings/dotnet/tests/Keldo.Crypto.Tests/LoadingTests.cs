using System;
using System.IO;
using Xunit;

namespace Keldo.Crypto.Tests
{
    public class LoadingTests
    {
        // Bound by now: the same file again is accepted, another refused
        // with the file in use named.
        [Fact]
        public void ASecondLibraryIsRefused()
        {
            KeldoCrypto.Uuid4();
            string? from = Interop.NativeLoader.LoadedFrom;
            Assert.NotNull(from);
            if (File.Exists(from)) KeldoCrypto.LoadLibrary(from!);
            var e = Assert.Throws<KeldoArgumentException>(() => KeldoCrypto.LoadLibrary("/elsewhere/libkeldo_crypto.so"));
            Assert.Contains("already loaded from " + from, e.Message);
        }
    }
}
