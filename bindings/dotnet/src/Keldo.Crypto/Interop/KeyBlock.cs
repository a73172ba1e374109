using System;
using System.Runtime.InteropServices;

namespace Keldo.Crypto.Interop
{
    // Unmanaged memory for an array of the library's keldo_jwt_key
    // (KELDO_JWT_KEY_SIZE bytes each, 8-byte aligned, as AllocHGlobal gives):
    // never moved by the collector, so the library's states are never
    // copied around the heap. A SafeHandle, so that Dispose on one thread
    // while others mint or verify waits for them (each call holds a
    // reference) and a use after Dispose is an ObjectDisposedException,
    // never a read of freed memory. Release wipes every key, then frees.
    internal sealed unsafe class KeyBlock : SafeHandle
    {
        internal const int KeySize = 128;

        internal KeyBlock(int count) : base(IntPtr.Zero, true)
        {
            Count = count;
            SetHandle(Marshal.AllocHGlobal(Math.Max(1, count) * KeySize));
            // Zeroed keys are refused by the library until initialised.
            new Span<byte>((void*)handle, Math.Max(1, count) * KeySize).Clear();
        }

        internal int Count { get; }

        public override bool IsInvalid => handle == IntPtr.Zero;

        internal byte* Key(int i) => (byte*)handle + (long)i * KeySize;

        protected override bool ReleaseHandle()
        {
            for (int i = 0; i < Count; i++) NativeMethods.keldo_jwt_key_wipe(Key(i));
            Marshal.FreeHGlobal(handle);
            return true;
        }

        // Runs fn with the block held, so a concurrent Dispose waits.
        internal T Use<T>(Func<IntPtr, T> fn)
        {
            bool added = false;
            try
            {
                DangerousAddRef(ref added);
                return fn(handle);
            }
            finally
            {
                if (added) DangerousRelease();
            }
        }

        internal void Hold(ref bool added) => DangerousAddRef(ref added);

        internal void Unhold() => DangerousRelease();

        internal IntPtr Address => handle;
    }
}
