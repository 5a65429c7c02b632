// Micro-benchmarks of the key generator and the character conversion.
//
//   build/bench/quarvel_bench [--benchmark_filter=REGEX]
//
// Items per second: register steps (StepBank), key characters (step by step,
// and from the block generator, one at a time and by whole blocks, on each
// instruction set the processor has), key-bit steps of the block generator,
// converted bytes, and bytes of plain text checked for characters without a
// code.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "alphabet/teleprinter.h"
#include "coding/encipher_tables.h"
#include "coding/kernels.h"
#include "generator/key_block.h"
#include "generator/key_block_kernels.h"
#include "generator/key_stream.h"
#include "generator/register_bank.h"

namespace quarvel {
namespace {

RegisterBank RandomBank(std::mt19937& rng) {
  RegisterBank bank;
  for (auto& stage : bank.Stages) stage = static_cast<std::uint8_t>(rng());
  bank.Stages[0] = 0xFF;
  return bank;
}

StructureMatrix RandomMatrix(std::mt19937& rng) {
  StructureMatrix matrix;
  for (auto& entry : matrix) entry = static_cast<std::uint8_t>(rng() & 1);
  return matrix;
}

void BM_StepBank(benchmark::State& state) {
  std::mt19937 rng(1);
  RegisterBank bank = RandomBank(rng);
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(StepBank(bank));
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_StepBank);

void BM_StepwiseKeyChar(benchmark::State& state) {
  std::mt19937 rng(2);
  RegisterBank bank = RandomBank(rng);
  StructureMatrix matrix = RandomMatrix(rng);
  std::uint8_t parity = 0;
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i)
      benchmark::DoNotOptimize(StepwiseKeyChar(bank, parity, matrix, 5));
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_StepwiseKeyChar);

// The kernels of the instruction set that the benchmark's argument names (0
// portable, 1 AVX2, 2 AVX-512), or null, the benchmark skipped, where the
// processor does not offer it.
const Kernels* ArgumentKernels(benchmark::State& state) {
  Isa isa = static_cast<Isa>(state.range(0));
  if (isa > BestIsa()) {
    state.SkipWithError("not offered by this processor");
    return nullptr;
  }
  return &KernelsFor(isa);
}

// A block generator started from a random bank and matrix.
std::unique_ptr<KeyBlock> StartedBlock(std::mt19937& rng) {
  auto block = std::make_unique<KeyBlock>();
  StartKeyBlock(*block, RandomBank(rng), 0, RandomMatrix(rng));
  return block;
}

void BM_TakeKeyChar(benchmark::State& state) {
  const Kernels* kernels = ArgumentKernels(state);
  if (!kernels) return;
  std::mt19937 rng(3);
  auto block = StartedBlock(rng);
  for (auto _ : state) {
    unsigned sum = 0;
    for (int i = 0; i < 1000; ++i) sum += TakeKeyChar(*block, *kernels);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_TakeKeyChar)->DenseRange(0, 2)->ArgName("isa");

// Whole blocks of key characters, as the bulk loops take them.
void BM_RefillKeyBlock(benchmark::State& state) {
  const Kernels* kernels = ArgumentKernels(state);
  if (!kernels) return;
  std::mt19937 rng(5);
  auto block = StartedBlock(rng);
  RefillKeyBlock(*block, *kernels);
  for (auto _ : state) {
    block->Next = block->Count;
    RefillKeyBlock(*block, *kernels);
    benchmark::DoNotOptimize(block->Chars.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * KeyBlock::kChars);
}
BENCHMARK(BM_RefillKeyBlock)->DenseRange(0, 2)->ArgName("isa");

// The key bits of a block's planes alone (random planes); items are steps.
void BM_PlaneKeyBits(benchmark::State& state) {
  const Kernels* kernels = ArgumentKernels(state);
  if (!kernels) return;
  std::mt19937 rng(6);
  auto block = StartedBlock(rng);
  for (auto& byte : block->Planes) byte = static_cast<std::uint8_t>(rng());
  constexpr int kFrom = KeyBlock::kPlaneHistory, kTo = kFrom + KeyBlock::kBlockPlaneBytes;
  std::uint8_t parity = 0;
  for (auto _ : state) {
    parity = kernels->PlaneKeyBits(block->Planes.data(), KeyBlock::kPlaneBytes, kFrom, kTo,
                                   block->Tables, parity, block->KeyBits.data());
    benchmark::DoNotOptimize(block->KeyBits.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 8 * (kTo - kFrom));
}
BENCHMARK(BM_PlaneKeyBits)->DenseRange(0, 2)->ArgName("isa");

// The two formulations of the key bits without three-input logic, on the
// same planes: the tree of choices in two-input steps (minterms 0) and the
// minterms of the selecting bits (minterms 1), with the vectors of the
// portable tier (isa 0) and of AVX2 (isa 1); the tables of both take the
// tree.
void BM_KeyBitForms(benchmark::State& state) {
  using KeyBitsFunction = std::uint8_t (*)(const std::uint8_t*, int, int, int, const KeyBitTables&,
                                           std::uint8_t, std::uint8_t*);
  const bool avx2 = state.range(0) == 1;
  const bool minterms = state.range(1) == 1;
  KeyBitsFunction function = minterms ? PlaneKeyBitsByMintermsPortable : PlaneKeyBitsPortable;
  if (avx2) {
    bool offered = BestIsa() >= Isa::Avx2;
#if QUARVEL_X86_TIERS
    function = minterms ? PlaneKeyBitsByMintermsAvx2 : PlaneKeyBitsAvx2;
#else
    offered = false;
#endif
    if (!offered) {
      state.SkipWithError("not offered by this processor");
      return;
    }
  }
  std::mt19937 rng(6);
  auto block = StartedBlock(rng);
  for (auto& byte : block->Planes) byte = static_cast<std::uint8_t>(rng());
  constexpr int kFrom = KeyBlock::kPlaneHistory, kTo = kFrom + KeyBlock::kBlockPlaneBytes;
  std::uint8_t parity = 0;
  for (auto _ : state) {
    parity = function(block->Planes.data(), KeyBlock::kPlaneBytes, kFrom, kTo, block->Tables,
                      parity, block->KeyBits.data());
    benchmark::DoNotOptimize(block->KeyBits.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 8 * (kTo - kFrom));
}
BENCHMARK(BM_KeyBitForms)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"isa", "minterms"});

std::vector<std::uint8_t> RandomBytes(std::size_t count) {
  std::mt19937 rng(4);
  std::vector<std::uint8_t> bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(rng());
  return bytes;
}

void BM_CharToCode(benchmark::State& state) {
  std::vector<std::uint8_t> bytes = RandomBytes(1 << 16);
  for (auto _ : state) {
    for (std::uint8_t& byte : bytes) {
      byte = ToUpper(byte);
      CharToCode(byte);
    }
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_CharToCode);

void BM_CodeToChar(benchmark::State& state) {
  std::vector<std::uint8_t> codes = RandomBytes(1 << 16);
  for (auto& code : codes) code &= 31;
  std::vector<std::uint8_t> out(codes.size());
  for (auto _ : state) {
    bool letters = true;
    for (std::size_t i = 0; i < codes.size(); ++i) {
      std::uint8_t byte = codes[i];
      CodeToChar(byte, letters);
      out[i] = byte;
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(codes.size()));
}
BENCHMARK(BM_CodeToChar);

// The check of a plain text for bytes without a teleprinter code, over a text
// of table characters (the whole buffer is looked at), per tier.
void BM_PlainTextCheck(benchmark::State& state) {
  const Kernels* kernels = ArgumentKernels(state);
  if (!kernels) return;
  std::vector<std::uint8_t> text = RandomBytes(1 << 16);
  constexpr char kTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz #%*<|1234.,";
  for (auto& byte : text) byte = static_cast<std::uint8_t>(kTable[byte % (sizeof kTable - 1)]);
  for (auto _ : state) {
    benchmark::DoNotOptimize(kernels->FindByteClass(text.data(), text.size(), kUncodedByte));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_PlainTextCheck)->DenseRange(0, 2)->ArgName("isa");

}  // namespace
}  // namespace quarvel
