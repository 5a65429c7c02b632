// Micro-benchmarks of the character kernels of the bulk loops, per tier
// (argument isa: 0 portable, 1 AVX2, 2 AVX-512; -1, and
// BM_EncipherLettersOneByOne, the reference way the kernels are checked
// against):
//
//   build/bench/quarvel_bench --benchmark_filter='EncipherLetters|DecipherChars|CollectLetters'
//
// The encipher and decipher ones take a plain text like the end-to-end
// benchmark's (words of letters and spaces, blanks, line ends, figures
// between shifts) and random key characters, in the passes the bulk loops
// make (1024 plain characters; the letters of up to 2048 cipher letters),
// over 1024 different passes: the branch predictor learns a sequence that
// repeats every 64 passes, and a kernel that branches on the pairs then
// seems twice as fast as it is. Their per_char counter is the time per
// plain character.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "coding/decipher_kernels.h"
#include "coding/encipher_kernels.h"
#include "coding/kernels.h"

namespace quarvel {
namespace {

constexpr std::size_t kPasses = 1024;
constexpr std::size_t kPlainPass = 1024;
constexpr std::size_t kKeysPerPass = 2 * kPlainPass + 128;

// Plain text in the mix of the end-to-end benchmark.
std::vector<std::uint8_t> BenchPlain(std::mt19937& rng, std::size_t count) {
  std::vector<std::uint8_t> plain;
  while (plain.size() < count) {
    unsigned kind = rng() % 20;
    if (kind < 15) {
      for (unsigned n = 2 + rng() % 8; n > 0; --n) plain.push_back('A' + rng() % 26);
      plain.push_back(' ');
    } else if (kind < 17) {
      plain.push_back('|');
    } else if (kind < 18) {
      plain.push_back('<');
      plain.push_back('*');
    } else {
      plain.push_back('#');
      for (unsigned n = 1 + rng() % 5; n > 0; --n)
        plain.push_back("-?:38().,9014\"57=2/6+"[rng() % 21]);
      plain.push_back('%');
    }
  }
  plain.resize(count);
  return plain;
}

std::vector<std::uint8_t> RandomKeys(std::mt19937& rng, std::size_t count) {
  std::vector<std::uint8_t> keys(count);
  for (auto& key : keys) key = static_cast<std::uint8_t>(rng() % 32);
  return keys;
}

const Kernels* TierOf(benchmark::State& state) {
  Isa isa = static_cast<Isa>(state.range(0));
  if (isa > BestIsa()) {
    state.SkipWithError("not offered by this processor");
    return nullptr;
  }
  return &KernelsFor(isa);
}

void SetTimePerChar(benchmark::State& state, std::int64_t chars) {
  state.SetItemsProcessed(chars);
  state.counters["per_char"] = benchmark::Counter(
      static_cast<double>(chars), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_EncipherLetters(benchmark::State& state) {
  const Kernels* kernels = TierOf(state);
  if (!kernels) return;
  std::mt19937 rng(11);
  std::vector<std::uint8_t> plain = BenchPlain(rng, kPasses * kPlainPass);
  std::vector<std::uint8_t> keys = RandomKeys(rng, kPasses * kKeysPerPass);
  std::vector<std::uint8_t> letters(2 * kPlainPass + 64), additive(kPlainPass + 64);
  std::int64_t chars = 0;
  for (auto _ : state) {
    for (std::size_t p = 0; p < kPasses; ++p) {
      benchmark::DoNotOptimize(kernels->EncipherLetters(plain.data() + p * kPlainPass, kPlainPass,
                                                        keys.data() + p * kKeysPerPass,
                                                        letters.data(), additive.data()));
    }
    benchmark::ClobberMemory();
    chars += kPasses * kPlainPass;
  }
  SetTimePerChar(state, chars);
}
BENCHMARK(BM_EncipherLetters)->DenseRange(0, 2)->ArgName("isa");

// The character-by-character way that the kernels are checked against.
void BM_EncipherLettersOneByOne(benchmark::State& state) {
  std::mt19937 rng(11);
  std::vector<std::uint8_t> plain = BenchPlain(rng, kPasses * kPlainPass);
  std::vector<std::uint8_t> keys = RandomKeys(rng, kPasses * kKeysPerPass);
  std::vector<std::uint8_t> letters(2 * kPlainPass + 64), additive(kPlainPass + 64);
  std::int64_t chars = 0;
  for (auto _ : state) {
    for (std::size_t p = 0; p < kPasses; ++p) {
      benchmark::DoNotOptimize(EncipherLettersFrom(plain.data() + p * kPlainPass, 0, kPlainPass,
                                                   keys.data() + p * kKeysPerPass, 0,
                                                   letters.data(), additive.data()));
    }
    benchmark::ClobberMemory();
    chars += kPasses * kPlainPass;
  }
  SetTimePerChar(state, chars);
}
BENCHMARK(BM_EncipherLettersOneByOne);

// The passes of a decipher run: the cipher letters of a plain text, with
// their character starts, and the keys they take.
struct DecipherPasses {
  std::vector<std::uint8_t> Letters, Keys;
  std::vector<std::uint64_t> Starts;
  std::vector<std::size_t> Count;
};

DecipherPasses MakeDecipherPasses(std::mt19937& rng) {
  constexpr std::size_t kLetters = kDecipherChunk + 128;
  DecipherPasses passes;
  passes.Letters.resize(kPasses * kLetters);
  passes.Keys = RandomKeys(rng, kPasses * kLetters);
  passes.Starts.resize(kPasses * kDecipherChunk / 64);
  std::vector<std::uint8_t> plain = BenchPlain(rng, kPlainPass);
  std::vector<std::uint8_t> additive(kPlainPass);
  for (std::size_t p = 0; p < kPasses; ++p) {
    plain = BenchPlain(rng, kPlainPass);
    std::uint8_t* letters = passes.Letters.data() + p * kLetters;
    std::size_t used =
        EncipherLettersFrom(plain.data(), 0, kPlainPass, passes.Keys.data() + p * kLetters, 0,
                            letters, additive.data());
    passes.Count.push_back(
        MarkStartsPortable(letters, used, passes.Starts.data() + p * kDecipherChunk / 64));
  }
  return passes;
}

// A tier's kernel, or (isa -1) the character-by-character way that the
// kernels are checked against.
void BM_DecipherChars(benchmark::State& state) {
  auto function = DecipherCharsOneByOne;
  if (state.range(0) >= 0) {
    const Kernels* kernels = TierOf(state);
    if (!kernels) return;
    function = kernels->DecipherChars;
  }
  std::mt19937 rng(12);
  const DecipherPasses passes = MakeDecipherPasses(rng);
  constexpr std::size_t kLetters = kDecipherChunk + 128;
  std::vector<std::uint8_t> out(2 * kDecipherChunk + 64), additive(kDecipherChunk + 64);
  std::int64_t chars = 0;
  for (auto _ : state) {
    bool lettersShift = true;
    for (std::size_t p = 0; p < kPasses; ++p) {
      std::size_t done = 0;
      benchmark::DoNotOptimize(function(passes.Letters.data() + p * kLetters,
                                        passes.Keys.data() + p * kLetters, passes.Count[p],
                                        passes.Starts.data() + p * kDecipherChunk / 64,
                                        lettersShift, out.data(), additive.data(), done));
      chars += static_cast<std::int64_t>(done);
    }
    benchmark::ClobberMemory();
  }
  SetTimePerChar(state, chars);
}
BENCHMARK(BM_DecipherChars)->DenseRange(-1, 2)->ArgName("isa");

// The letters of laid-out cipher text (groups of five, ten to a line), in
// windows of a decipher pass; a tier's kernel, or (isa -1) byte by byte.
// Items are cipher bytes.
void BM_CollectLetters(benchmark::State& state) {
  auto function = CollectLettersOneByOne;
  if (state.range(0) >= 0) {
    const Kernels* kernels = TierOf(state);
    if (!kernels) return;
    function = kernels->CollectLetters;
  }
  std::mt19937 rng(13);
  std::vector<std::uint8_t> text;
  for (int g = 0; text.size() < kPasses * kDecipherChunk; ++g) {
    for (int k = 0; k < 5; ++k) text.push_back(static_cast<std::uint8_t>('A' + rng() % 26));
    if (g % 10 == 9) {
      text.push_back('\r');
      text.push_back('\n');
    } else {
      text.push_back(' ');
    }
  }
  std::vector<std::uint8_t> letters(kDecipherChunk + 64);
  for (auto _ : state) {
    for (std::size_t p = 0; p < kPasses; ++p) {
      benchmark::DoNotOptimize(
          function(text.data() + p * kDecipherChunk, kDecipherChunk, letters.data()));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPasses * kDecipherChunk);
}
BENCHMARK(BM_CollectLetters)->DenseRange(-1, 2)->ArgName("isa");

}  // namespace
}  // namespace quarvel
