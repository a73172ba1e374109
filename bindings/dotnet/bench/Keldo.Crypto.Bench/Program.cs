// dotnet Keldo.Crypto.Bench.dll [BenchmarkDotNet arguments]
//   --filter '*'           every benchmark (docs/performance.md's table)
//   --quick --filter '*'   each benchmark run briefly, to show it runs (CI);
//                          its times are not measurements
// In process: the build's output lies outside the project folder (the
// checkout's build-dotnet/), where BenchmarkDotNet's generated projects
// would not find it; the calls measured are the same.
using System.Linq;
using BenchmarkDotNet.Configs;
using BenchmarkDotNet.Jobs;
using BenchmarkDotNet.Running;
using BenchmarkDotNet.Toolchains.InProcess.Emit;

bool quick = args.Contains("--quick");
Job job = (quick ? Job.Dry : Job.Default).WithToolchain(InProcessEmitToolchain.Instance).AsDefault();
BenchmarkSwitcher.FromAssembly(typeof(Keldo.Crypto.Bench.TokenBenchmarks).Assembly)
    .Run(args.Where(a => a != "--quick").ToArray(), DefaultConfig.Instance.AddJob(job));
