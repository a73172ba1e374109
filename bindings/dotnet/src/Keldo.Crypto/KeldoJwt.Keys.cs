using Keldo.Crypto.Interop;

namespace Keldo.Crypto
{
    public static unsafe partial class KeldoJwt
    {
        internal static int KeyMint(byte* key, byte* sub, byte* email, uint ttl, byte* token, ulong size, ulong* sizeOut)
            => NativeMethods.keldo_jwt_mint_k(key, sub, email, ttl, token, size, sizeOut);

        internal static int KeyVerify(byte* keys, uint count, byte* token, byte* sub, byte* email, long* exp, uint* index)
            => NativeMethods.keldo_jwt_verify_k(keys, count, token, sub, email, exp, index);
    }
}
