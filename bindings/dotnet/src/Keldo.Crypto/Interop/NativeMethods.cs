// The C functions, one for one, with blittable signatures only: pointers
// and integers, so the marshaller (source-generated on net8.0) copies
// nothing; spans and arrays are pinned with `fixed` by the callers. Text
// arguments are UTF-8 with a terminating NUL, never the platform's ANSI
// code page. "keldo_crypto" is resolved by NativeLoader.
using System.Runtime.InteropServices;
#if NET7_0_OR_GREATER
using System.Runtime.CompilerServices;
#endif

namespace Keldo.Crypto.Interop
{
    internal static unsafe partial class NativeMethods
    {
        internal const string Library = "keldo_crypto";

        // Installs the resolver before the first call into the library.
        static NativeMethods() => NativeLoader.Register();

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_secure_compare(byte* a, byte* b, ulong length);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_secure_compare(byte* a, byte* b, ulong length);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_sha256(byte* data, ulong dataLength, byte* digest);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_sha256(byte* data, ulong dataLength, byte* digest);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_hmac_sha256(byte* key, ulong keyLength, byte* data, ulong dataLength, byte* mac);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_hmac_sha256(byte* key, ulong keyLength, byte* data, ulong dataLength, byte* mac);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_pbkdf2_sha256(byte* password, ulong passwordLength, byte* salt, ulong saltLength, uint iterations, byte* key, ulong keyLength);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_pbkdf2_sha256(byte* password, ulong passwordLength, byte* salt, ulong saltLength, uint iterations, byte* key, ulong keyLength);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_base64_encode(byte* data, ulong dataLength, byte* text, ulong textSize);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64_encode(byte* data, ulong dataLength, byte* text, ulong textSize);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_base64_decode(byte* text, byte* data, ulong dataSize, ulong* dataLength);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64_decode(byte* text, byte* data, ulong dataSize, ulong* dataLength);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_base64url_encode(byte* data, ulong dataLength, byte* text, ulong textSize);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64url_encode(byte* data, ulong dataLength, byte* text, ulong textSize);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_base64url_decode(byte* text, byte* data, ulong dataSize, ulong* dataLength);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_base64url_decode(byte* text, byte* data, ulong dataSize, ulong* dataLength);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_crypto_uuid_generate(byte* text);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_crypto_uuid_generate(byte* text);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial byte* keldo_crypto_status_text(int status);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern byte* keldo_crypto_status_text(int status);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_jwt_mint_r(byte* secret, ulong secretLength, byte* sub, byte* email, uint ttlSeconds, byte* token, ulong tokenSize, ulong* tokenSizeOut);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_mint_r(byte* secret, ulong secretLength, byte* sub, byte* email, uint ttlSeconds, byte* token, ulong tokenSize, ulong* tokenSizeOut);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_jwt_verify_r(byte* secret, ulong secretLength, byte* token, byte* sub, byte* email, long* exp);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_verify_r(byte* secret, ulong secretLength, byte* token, byte* sub, byte* email, long* exp);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_password_hash(byte* password, ulong passwordLength, uint iterations, byte* stored, ulong storedSize);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_password_hash(byte* password, ulong passwordLength, uint iterations, byte* stored, ulong storedSize);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_password_verify(byte* password, ulong passwordLength, byte* stored);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_password_verify(byte* password, ulong passwordLength, byte* stored);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_password_needs_rehash(byte* stored, uint minIterations);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_password_needs_rehash(byte* stored, uint minIterations);
#endif

        // Interface 1.2: prepared token keys (keldo_jwt_key, KELDO_JWT_KEY_SIZE bytes each).

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_jwt_key_init(byte* key, byte* secret, ulong secretLength);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_key_init(byte* key, byte* secret, ulong secretLength);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial void keldo_jwt_key_wipe(byte* key);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void keldo_jwt_key_wipe(byte* key);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_jwt_mint_k(byte* key, byte* sub, byte* email, uint ttlSeconds, byte* token, ulong tokenSize, ulong* tokenSizeOut);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_mint_k(byte* key, byte* sub, byte* email, uint ttlSeconds, byte* token, ulong tokenSize, ulong* tokenSizeOut);
#endif

#if NET7_0_OR_GREATER
        [LibraryImport(Library)]
        [UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int keldo_jwt_verify_k(byte* keys, uint keyCount, byte* token, byte* sub, byte* email, long* exp, uint* keyIndex);
#else
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int keldo_jwt_verify_k(byte* keys, uint keyCount, byte* token, byte* sub, byte* email, long* exp, uint* keyIndex);
#endif
    }
}
