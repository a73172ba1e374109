using System;
using System.Buffers.Binary;
using System.Collections.Concurrent;
using System.Security.Cryptography;
using System.Text;
using System.Threading;
using System.Threading.Tasks;
using Keldo.Crypto.AspNetCore;
using Microsoft.AspNetCore.Identity;
using Microsoft.Extensions.DependencyInjection;
using Microsoft.Extensions.Options;
using Xunit;

namespace Keldo.Crypto.AspNetCore.Tests
{
    public sealed class User
    {
        public string Id { get; set; } = Guid.NewGuid().ToString();
        public string UserName { get; set; } = "";
        public string? NormalizedUserName { get; set; }
        public string? PasswordHash { get; set; }
    }

    // A user table in memory, enough for UserManager's password checks.
    public sealed class MemoryStore : IUserPasswordStore<User>
    {
        readonly ConcurrentDictionary<string, User> users = new ConcurrentDictionary<string, User>();
        public void Dispose() { }
        public Task<string> GetUserIdAsync(User user, CancellationToken ct) => Task.FromResult(user.Id);
        public Task<string?> GetUserNameAsync(User user, CancellationToken ct) => Task.FromResult<string?>(user.UserName);
        public Task SetUserNameAsync(User user, string? userName, CancellationToken ct) { user.UserName = userName ?? ""; return Task.CompletedTask; }
        public Task<string?> GetNormalizedUserNameAsync(User user, CancellationToken ct) => Task.FromResult(user.NormalizedUserName);
        public Task SetNormalizedUserNameAsync(User user, string? name, CancellationToken ct) { user.NormalizedUserName = name; return Task.CompletedTask; }
        public Task<IdentityResult> CreateAsync(User user, CancellationToken ct) { users[user.Id] = user; return Task.FromResult(IdentityResult.Success); }
        public Task<IdentityResult> UpdateAsync(User user, CancellationToken ct) { users[user.Id] = user; return Task.FromResult(IdentityResult.Success); }
        public Task<IdentityResult> DeleteAsync(User user, CancellationToken ct) { users.TryRemove(user.Id, out _); return Task.FromResult(IdentityResult.Success); }
        public Task<User?> FindByIdAsync(string userId, CancellationToken ct) => Task.FromResult(users.TryGetValue(userId, out User? u) ? u : null);
        public Task<User?> FindByNameAsync(string name, CancellationToken ct)
        {
            foreach (User u in users.Values) if (u.NormalizedUserName == name) return Task.FromResult<User?>(u);
            return Task.FromResult<User?>(null);
        }
        public Task SetPasswordHashAsync(User user, string? hash, CancellationToken ct) { user.PasswordHash = hash; return Task.CompletedTask; }
        public Task<string?> GetPasswordHashAsync(User user, CancellationToken ct) => Task.FromResult(user.PasswordHash);
        public Task<bool> HasPasswordAsync(User user, CancellationToken ct) => Task.FromResult(user.PasswordHash != null);
    }

    public class PasswordHasherTests
    {
        const int Iterations = 1000;   // the tests' own count, so that they run quickly

        static ServiceProvider Services()
        {
            var services = new ServiceCollection();
            services.AddLogging();
            services.AddIdentityCore<User>().AddUserStore<MemoryStore>();
            services.AddKeldoPasswordHasher<User>(o => o.Iterations = Iterations);
            return services.BuildServiceProvider();
        }

        // Identity's version 3 layout under HMAC-SHA256, its default before
        // .NET 7, made from .NET's own PBKDF2.
        static string IdentityV3Sha256(string password, int iterations, int saltLength = 16)
        {
            byte[] salt = RandomNumberGenerator.GetBytes(saltLength);
            byte[] subkey = Rfc2898DeriveBytes.Pbkdf2(Encoding.UTF8.GetBytes(password), salt, iterations, HashAlgorithmName.SHA256, 32);
            var b = new byte[13 + salt.Length + subkey.Length];
            b[0] = 0x01;
            BinaryPrimitives.WriteUInt32BigEndian(b.AsSpan(1), 1);
            BinaryPrimitives.WriteUInt32BigEndian(b.AsSpan(5), (uint)iterations);
            BinaryPrimitives.WriteUInt32BigEndian(b.AsSpan(9), (uint)salt.Length);
            salt.CopyTo(b, 13);
            subkey.CopyTo(b, 13 + salt.Length);
            return Convert.ToBase64String(b);
        }

        static string IdentityDefault(string password) => new PasswordHasher<User>().HashPassword(new User(), password);

        static string IdentityV2(string password) =>
            new PasswordHasher<User>(Options.Create(new PasswordHasherOptions { CompatibilityMode = PasswordHasherCompatibilityMode.IdentityV2 }))
                .HashPassword(new User(), password);

        public static TheoryData<string, string, bool> StoredBefore() => new TheoryData<string, string, bool> {
            // name, stored hash, whether the library itself checks it
            { "Identity's default (V3, HMAC-SHA512)", IdentityDefault("hunter2"), false },
            { "Identity V3 under HMAC-SHA256", IdentityV3Sha256("hunter2", 10000), true },
            { "Identity V3 under HMAC-SHA256, 48-byte salt", IdentityV3Sha256("hunter2", 2000, 48), true },
            { "Identity V2 (HMAC-SHA1)", IdentityV2("hunter2"), false },
            { "Django's form", "pbkdf2_sha256$1200$seasalt1$" +
                Convert.ToBase64String(Rfc2898DeriveBytes.Pbkdf2(Encoding.UTF8.GetBytes("hunter2"), Encoding.UTF8.GetBytes("seasalt1"), 1200, HashAlgorithmName.SHA256, 32)), true },
            { "PHC with fewer iterations", KeldoCrypto.HashPassword("hunter2", 500), true },
        };

        // A user stored by another hasher logs in through ours, is moved to
        // the PHC form by UserManager, and logs in again; a wrong password
        // is refused before and after, and changes nothing.
        [Theory]
        [MemberData(nameof(StoredBefore))]
        public async Task MigratedAtLogin(string name, string stored, bool library)
        {
            using ServiceProvider sp = Services();
            using IServiceScope scope = sp.CreateScope();
            var users = scope.ServiceProvider.GetRequiredService<UserManager<User>>();
            Assert.IsType<KeldoPasswordHasher<User>>(users.PasswordHasher);
            var user = new User { UserName = "u-" + name.Length, PasswordHash = stored };
            Assert.True((await users.CreateAsync(user)).Succeeded);
            Assert.Equal(library, KeldoPasswordHasher<User>.IdentitySha256AsPhc(stored) != null || stored.Contains('$'));

            Assert.False(await users.CheckPasswordAsync(user, "hunter3"));
            Assert.Equal(stored, user.PasswordHash);
            Assert.True(await users.CheckPasswordAsync(user, "hunter2"));
            Assert.StartsWith("$pbkdf2-sha256$i=" + Iterations + "$", user.PasswordHash);
            Assert.True(await users.CheckPasswordAsync(user, "hunter2"));
            Assert.False(await users.CheckPasswordAsync(user, "hunter3"));
        }

        [Fact]
        public async Task OwnUsersLogInWithoutRehash()
        {
            using ServiceProvider sp = Services();
            using IServiceScope scope = sp.CreateScope();
            var users = scope.ServiceProvider.GetRequiredService<UserManager<User>>();
            var user = new User { UserName = "own" };
            Assert.True((await users.CreateAsync(user, "Correct-horse-1")).Succeeded);
            string stored = user.PasswordHash!;
            Assert.StartsWith("$pbkdf2-sha256$i=" + Iterations + "$", stored);
            Assert.True(KeldoCrypto.VerifyPassword("Correct-horse-1", stored));
            Assert.True(await users.CheckPasswordAsync(user, "Correct-horse-1"));
            Assert.Equal(stored, user.PasswordHash);
            Assert.False(await users.CheckPasswordAsync(user, "Correct-horse-2"));
            var hasher = new KeldoPasswordHasher<User>(Options.Create(new KeldoPasswordHasherOptions { Iterations = Iterations }));
            Assert.Equal(PasswordVerificationResult.Success, hasher.VerifyHashedPassword(user, stored, "Correct-horse-1"));
        }

        // Results straight from the hasher, beside Identity's own on the same hashes.
        [Fact]
        public void ResultsBesideIdentitysHasher()
        {
            var ours = new KeldoPasswordHasher<User>(Options.Create(new KeldoPasswordHasherOptions { Iterations = Iterations }));
            var theirs = new PasswordHasher<User>();
            var u = new User();
            foreach (string stored in new[] { IdentityDefault("pw"), IdentityV3Sha256("pw", 1000), IdentityV2("pw") })
            {
                Assert.NotEqual(PasswordVerificationResult.Failed, theirs.VerifyHashedPassword(u, stored, "pw"));
                Assert.Equal(PasswordVerificationResult.SuccessRehashNeeded, ours.VerifyHashedPassword(u, stored, "pw"));
                Assert.Equal(PasswordVerificationResult.Failed, theirs.VerifyHashedPassword(u, stored, "pW"));
                Assert.Equal(PasswordVerificationResult.Failed, ours.VerifyHashedPassword(u, stored, "pW"));
            }
            // Neither a form of the library nor Identity's: refused, not thrown.
            Assert.Equal(PasswordVerificationResult.Failed, ours.VerifyHashedPassword(u, "not a hash", "pw"));
            Assert.Equal(PasswordVerificationResult.Failed, ours.VerifyHashedPassword(u, "AQAAAA==", "pw"));
            // Identity's hasher cannot read ours (not Base64 to it): the migration is one way.
            Assert.Throws<FormatException>(() => theirs.VerifyHashedPassword(u, ours.HashPassword(u, "pw"), "pw"));
        }
    }
}
