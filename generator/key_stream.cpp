#include "generator/key_stream.h"

#include "generator/register_bank.h"

namespace quarvel {

std::uint8_t LookupBit(const StructureMatrix& matrix, const StepBits& bits) {
  int column = bits[0] + 2 * bits[1] + 4 * bits[2] + 8 * bits[3];
  int row = bits[4] + 2 * bits[5] + 4 * bits[6];
  return matrix[16 * row + column];
}

void CombineBit(std::uint8_t& result, const StructureMatrix& matrix, const StepBits& bits,
                std::uint8_t previousParity) {
  result = static_cast<std::uint8_t>(LookupBit(matrix, bits) ^ bits[7] ^ previousParity);
}

void FoldParity(std::uint8_t& result, const StepBits& bits) {
  std::uint8_t parity = 0;
  for (std::uint8_t bit : bits) parity ^= bit;
  result = parity;
}

void WarmUp(RegisterBank& registers, std::uint8_t& stepParity) {
  stepParity = 0;
  for (int i = 0; i < kWarmUpSteps; ++i) FoldParity(stepParity, StepRegisters(registers));
}

std::uint8_t StepwiseKeyChar(RegisterBank& registers, std::uint8_t& stepParity,
                             const StructureMatrix& matrix, std::int32_t stepsPerChar) {
  std::uint8_t keyChar = 0;
  for (std::int32_t i = 0; i < stepsPerChar; ++i) {
    StepBits bits = StepRegisters(registers);
    std::uint8_t keyBit;
    CombineBit(keyBit, matrix, bits, stepParity);
    keyChar = static_cast<std::uint8_t>(((keyChar << 1) & 0xFF) ^ keyBit);
    FoldParity(stepParity, bits);
  }
  return keyChar & 31;
}

}  // namespace quarvel
