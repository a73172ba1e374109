// dotnet Keldo.Crypto.Bench.dll [BenchmarkDotNet arguments]
//   --filter '*'            every benchmark (docs/performance.md's table)
//   --job Dry --filter '*'  one call of each, to check they run (CI)
// In process: the build's output lies outside the project folder (the
// checkout's build-dotnet/), where BenchmarkDotNet's generated projects
// would not find it; the calls measured are the same.
using BenchmarkDotNet.Configs;
using BenchmarkDotNet.Jobs;
using BenchmarkDotNet.Running;
using BenchmarkDotNet.Toolchains.InProcess.Emit;

IConfig config = DefaultConfig.Instance.AddJob(Job.Default.WithToolchain(InProcessEmitToolchain.Instance).AsDefault());
BenchmarkSwitcher.FromAssembly(typeof(Keldo.Crypto.Bench.TokenBenchmarks).Assembly).Run(args, config);
