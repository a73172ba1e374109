// Finds the native library for "keldo_crypto", once per process, in this
// order:
//   1. the file given to KeldoCrypto.LoadLibrary(path) before first use, else
//      the file KELDO_CRYPTO_LIBRARY names (a file named is the file meant:
//      nothing else is tried);
//   2. the runtime's own search: the paths the application's .deps.json
//      lists for the package (runtimes/<rid>/native/ in a build's output,
//      the application's folder after a self-contained publish), then the
//      system's;
//   3. runtimes/<rid>/native/ beside this assembly, or two folders up
//      (lib/<tfm>/ in an unpacked package referenced without NuGet);
//   4. the system loader's search for libkeldo_crypto.so.1, the file the
//      runtime package installs (it has no libkeldo_crypto.so link).
// When nothing loads, KeldoLibraryNotFoundException names every place tried.
//
// net8.0 registers the resolver with NativeLibrary. netstandard2.0 does the
// same through reflection where the runtime has NativeLibrary (.NET Core 3.0
// and later) and otherwise (.NET Framework) loads the file first on
// Windows, whose loader then finds the module by name.
using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Threading;

namespace Keldo.Crypto.Interop
{
    internal static class NativeLoader
    {
        static readonly object Gate = new object();
        static IntPtr handle;
        static string? loadedFrom;   // the file, or a description of the search that found it
        static string? requested;    // LoadLibrary's path, before first use
        static KeldoLibraryNotFoundException? failure;
        static int registered;

        static bool IsWindows => Path.DirectorySeparatorChar == '\\';

        internal static void Register()
        {
            if (Interlocked.Exchange(ref registered, 1) != 0) return;
#if NET5_0_OR_GREATER
            NativeLibrary.SetDllImportResolver(typeof(NativeLoader).Assembly, Resolve);
#else
            if (!RegisterThroughReflection() && IsWindows)
            {
                // .NET Framework: a module loaded by full path is what a
                // later DllImport("keldo_crypto") finds. A failure is
                // reported by the first call, as the runtime's own search's.
                try
                {
                    Load();
                }
                catch (KeldoLibraryNotFoundException)
                {
                }
            }
#endif
        }

        /// <summary>KeldoCrypto.LoadLibrary: a path before first use, or the
        /// same file again.</summary>
        internal static void Request(string path)
        {
            string full = Path.GetFullPath(path);
            lock (Gate)
            {
                if (handle != IntPtr.Zero)
                {
                    if (!string.Equals(full, loadedFrom, IsWindows ? StringComparison.OrdinalIgnoreCase : StringComparison.Ordinal))
                        throw new KeldoArgumentException("LoadLibrary: the library is already loaded from " + loadedFrom);
                    return;
                }
                requested = full;
                failure = null;
            }
            Load();
        }

        /// <summary>Where the library was loaded from, or null before.</summary>
        internal static string? LoadedFrom
        {
            get { lock (Gate) return loadedFrom; }
        }

        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? searchPath)
        {
            return name == NativeMethods.Library ? Load() : IntPtr.Zero;
        }

        internal static IntPtr Load()
        {
            IntPtr h = Volatile.Read(ref handle);
            if (h != IntPtr.Zero) return h;
            lock (Gate)
            {
                if (handle != IntPtr.Zero) return handle;
                if (failure != null) throw failure;
                var tried = new List<string>();
                string? path = requested ?? Environment.GetEnvironmentVariable("KELDO_CRYPTO_LIBRARY");
                if (!string.IsNullOrEmpty(path))
                {
                    string full = Path.GetFullPath(path!);
                    string by = requested != null ? "LoadLibrary" : "KELDO_CRYPTO_LIBRARY";
                    if (!File.Exists(full))
                        throw Fail("keldo-crypto: no such file: " + full + " (named by " + by + ")");
                    if (TryLoadFile(full, out h, out string? why)) return Loaded(h, full);
                    throw Fail("keldo-crypto: cannot load " + full + " (named by " + by + "): " + why);
                }
#if NET5_0_OR_GREATER
                if (NativeLibrary.TryLoad(NativeMethods.Library, typeof(NativeLoader).Assembly, null, out h))
                    return Loaded(h, "the runtime's search for " + NativeMethods.Library);
                tried.Add(NativeMethods.Library + " (the runtime's search: the application's .deps.json, its folder, the system)");
#endif
                foreach (string file in PackagedFiles())
                {
                    if (!File.Exists(file)) continue;
                    if (TryLoadFile(file, out h, out string? why)) return Loaded(h, file);
                    tried.Add(file + ": " + why);
                }
                tried.Add("runtimes/" + RuntimeId() + "/native/ beside " + AssemblyFolder());
                if (!IsWindows)
                {
                    string soname = IsMac() ? "libkeldo_crypto.1.dylib" : "libkeldo_crypto.so.1";
                    if (TryLoadFile(soname, out h, out string? why)) return Loaded(h, soname);
                    tried.Add(soname + " (the system loader's search): " + why);
                }
                throw Fail("keldo-crypto: cannot load the native library. Reference the Keldo.Crypto package " +
                           "(it carries the library for linux-x64, linux-arm64 and win-x64), install the library " +
                           "(the runtime package, or cmake --install and ldconfig), set KELDO_CRYPTO_LIBRARY to its " +
                           "file, or call KeldoCrypto.LoadLibrary(path) before first use. Tried: " + string.Join("; ", tried));
            }
        }

        static IntPtr Loaded(IntPtr h, string from)
        {
            loadedFrom = from;
            Volatile.Write(ref handle, h);
            return h;
        }

        static KeldoLibraryNotFoundException Fail(string message)
        {
            failure = new KeldoLibraryNotFoundException(message);
            return failure;
        }

#if NET5_0_OR_GREATER
        [System.Diagnostics.CodeAnalysis.UnconditionalSuppressMessage("SingleFile", "IL3000",
            Justification = "An empty location (single file, native AOT) is handled: the application's folder is used.")]
#endif
        static string AssemblyFolder()
        {
#if NET5_0_OR_GREATER
            // Empty in a single-file or native AOT application: the
            // application's folder is the one that holds the natives there.
            string location = typeof(NativeLoader).Assembly.Location;
            return string.IsNullOrEmpty(location) ? AppContext.BaseDirectory : Path.GetDirectoryName(location)!;
#else
            try
            {
                return Path.GetDirectoryName(typeof(NativeLoader).Assembly.Location) ?? AppDomain.CurrentDomain.BaseDirectory;
            }
            catch (NotSupportedException)
            {
                return AppDomain.CurrentDomain.BaseDirectory;
            }
#endif
        }

        static IEnumerable<string> PackagedFiles()
        {
            string here = AssemblyFolder();
            string name = IsWindows ? "keldo_crypto.dll" : IsMac() ? "libkeldo_crypto.dylib" : "libkeldo_crypto.so";
            foreach (string root in new[] { here, Path.Combine(here, "..", "..") })
                yield return Path.GetFullPath(Path.Combine(root, "runtimes", RuntimeId(), "native", name));
        }

        static bool IsMac()
        {
#if NET5_0_OR_GREATER
            return OperatingSystem.IsMacOS();
#else
            return RuntimeInformation.IsOSPlatform(OSPlatform.OSX);
#endif
        }

        static string RuntimeId()
        {
            string os = IsWindows ? "win" : IsMac() ? "osx" : "linux";
            string arch = RuntimeInformation.ProcessArchitecture switch {
                Architecture.X64 => "x64",
                Architecture.Arm64 => "arm64",
                Architecture.X86 => "x86",
                Architecture.Arm => "arm",
                var other => other.ToString().ToLowerInvariant(),
            };
            return os + "-" + arch;
        }

        static bool TryLoadFile(string file, out IntPtr h, out string? why)
        {
            why = null;
            if (IsWindows)
            {
                // Windows looks for a DLL's imports beside the program, not
                // beside the DLL: the yyjson shipped with it is loaded first.
                string? dir = Path.GetDirectoryName(file);
                if (!string.IsNullOrEmpty(dir))
                {
                    string yyjson = Path.Combine(dir!, "libyyjson.dll");
                    if (File.Exists(yyjson)) OsLoad(yyjson, out _);
                }
            }
            h = OsLoad(file, out why);
            return h != IntPtr.Zero;
        }

#if NET5_0_OR_GREATER
        static IntPtr OsLoad(string file, out string? why)
        {
            try
            {
                why = null;
                return NativeLibrary.Load(file);
            }
            catch (DllNotFoundException e)
            {
                // The runtime's message runs over lines of advice; its first line names the file.
                why = e.Message.Split('\n')[0].Trim();
                return IntPtr.Zero;
            }
            catch (BadImageFormatException e)
            {
                why = e.Message;
                return IntPtr.Zero;
            }
        }
#else
        static IntPtr OsLoad(string file, out string? why)
        {
            why = null;
            IntPtr h;
            if (IsWindows)
            {
                h = LoadLibraryW(file);
                if (h == IntPtr.Zero) why = "error " + Marshal.GetLastWin32Error();
                return h;
            }
            try
            {
                h = dlopen_libdl(file, RTLD_NOW);
                if (h == IntPtr.Zero) why = Text.FromC(dlerror_libdl()) is { Length: > 0 } e ? e : "not found";
            }
            catch (DllNotFoundException)
            {
                h = dlopen_libc(file, RTLD_NOW);
                if (h == IntPtr.Zero) why = Text.FromC(dlerror_libc()) is { Length: > 0 } e ? e : "not found";
            }
            return h;
        }

        // The runtime's NativeLibrary where it has one (.NET Core 3.0 and
        // later run this build only when the application targets them).
        static bool RegisterThroughReflection()
        {
            Type? nativeLibrary = Type.GetType("System.Runtime.InteropServices.NativeLibrary, System.Runtime.InteropServices", false);
            Type? resolverType = Type.GetType("System.Runtime.InteropServices.DllImportResolver, System.Runtime.InteropServices", false);
            if (nativeLibrary == null || resolverType == null) return false;
            MethodInfo? set = nativeLibrary.GetMethod("SetDllImportResolver", new[] { typeof(Assembly), resolverType });
            MethodInfo? resolve = typeof(NativeLoader).GetMethod(nameof(Resolve), BindingFlags.NonPublic | BindingFlags.Static);
            if (set == null || resolve == null) return false;
            set.Invoke(null, new object[] { typeof(NativeLoader).Assembly, Delegate.CreateDelegate(resolverType, resolve) });
            return true;
        }

        [DllImport("kernel32", CharSet = CharSet.Unicode, SetLastError = true)]
        static extern IntPtr LoadLibraryW(string path);

        const int RTLD_NOW = 2;

        // glibc before 2.34 keeps dlopen in libdl; later ones in libc as well.
        [DllImport("libdl.so.2", EntryPoint = "dlopen")] static extern IntPtr dlopen_libdl(string path, int flags);
        [DllImport("libdl.so.2", EntryPoint = "dlerror")] static extern IntPtr dlerror_libdl();
        [DllImport("libc", EntryPoint = "dlopen")] static extern IntPtr dlopen_libc(string path, int flags);
        [DllImport("libc", EntryPoint = "dlerror")] static extern IntPtr dlerror_libc();
#endif
    }
}
