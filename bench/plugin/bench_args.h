// The plug-in benchmarks' command line.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

namespace qrx {
namespace bench {

// The benchmark library's start with interleaved repetitions, unless the
// command line says otherwise (a later flag wins). False on an unknown
// argument.
inline bool InitializeInterleaved(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  return !benchmark::ReportUnrecognizedArguments(count, args.data());
}

}  // namespace bench
}  // namespace qrx
