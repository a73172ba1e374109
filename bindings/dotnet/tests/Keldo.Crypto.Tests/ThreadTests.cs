using System;
using System.Collections.Concurrent;
using System.Linq;
using System.Security.Cryptography;
using System.Text;
using System.Threading.Tasks;
using Xunit;
using static Keldo.Crypto.Tests.Oracle;

namespace Keldo.Crypto.Tests
{
    public class ThreadTests
    {
        // Parallel.For over distinct keys: every token carries its own
        // worker's signature and subject, and every refusal its own text,
        // while the other workers mint, verify and fail at once. No lock.
        [Fact]
        public void DistinctKeysNeverCross()
        {
            const int workers = 16, rounds = 400;
            long t = Now();
            var crossed = new ConcurrentBag<string>();
            int done = 0;
            Parallel.For(0, workers * rounds, new ParallelOptions { MaxDegreeOfParallelism = workers }, i =>
            {
                int me = i % workers;
                byte[] secret = Utf8(("secret-of-worker-" + me + "-").PadRight(40, (char)('a' + me)));
                string sub = "w" + me + "-" + i;
                string token = KeldoJwt.Mint(secret, sub, "w" + me + "@example.org", 600);
                if (SignatureOf(secret, token) != token.Split('.')[2]) crossed.Add(sub + ": another worker's key");
                if (!Encoding.UTF8.GetString(B64UrlDecode(token.Split('.')[1])).StartsWith("{\"sub\":\"" + sub + "\""))
                    crossed.Add(sub + ": another subject");
                if (KeldoJwt.Verify(token, secret).Sub != sub) crossed.Add(sub + ": verified another subject");
                string expected = (me % 3) switch {
                    0 => "jwt_verify: signature verification failed",
                    1 => "jwt_verify: token has expired",
                    _ => "jwt_verify: malformed token (missing first dot)",
                };
                string bad = (me % 3) switch {
                    0 => Signed(Utf8(new string('z', 40)), Claims("x", "y", "keldo", t + 600, t)),
                    1 => Signed(secret, Claims("x", "y", "keldo", t - 30, t - 90)),
                    _ => "no-dots",
                };
                try
                {
                    KeldoJwt.Verify(bad, secret);
                    crossed.Add(sub + ": refusal reported as success");
                }
                catch (TokenException e) when (e.Message == expected)
                {
                }
                catch (TokenException e)
                {
                    crossed.Add(sub + ": message " + e.Message);
                }
                System.Threading.Interlocked.Increment(ref done);
            });
            Assert.Equal(workers * rounds, done);
            Assert.Empty(crossed);
        }
    }
}
