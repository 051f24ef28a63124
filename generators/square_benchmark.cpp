// Time of the generator's steps for an n x n mesh: reading the parameters
// with numbering the nodes, and each of the three writers. The files go to
// a scratch folder under the system's temporary directory.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "generators/square.h"
#include "platform/text_reader.h"

namespace {

namespace fs = std::filesystem;

square::Generator Make(int n) {
  platform::TextReader in("square.txt", ":\n" + std::to_string(n) + " 1.0\n:\n1000.0 0.3\n:\n0.01\n");
  return square::initia(in);
}

fs::path Scratch() {
  const fs::path dir = fs::temp_directory_path() / "velora_square_benchmark";
  fs::create_directories(dir);
  return dir;
}

void BM_Initia(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Make(static_cast<int>(state.range(0))));
}

template <void (*Write)(const square::Generator&, const std::string&)>
void BM_Write(benchmark::State& state) {
  const square::Generator g = Make(static_cast<int>(state.range(0)));
  const std::string file = (Scratch() / "out.txt").string();
  for (auto _ : state) Write(g, file);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(file)));
  fs::remove(file);
}

void BM_Input(benchmark::State& s) { BM_Write<square::input>(s); }
void BM_Autocad(benchmark::State& s) { BM_Write<square::autocad>(s); }
void BM_Ansys(benchmark::State& s) { BM_Write<square::ansys>(s); }

}  // namespace

BENCHMARK(BM_Initia)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Input)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Autocad)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ansys)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
