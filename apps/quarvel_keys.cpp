// quarvel_keys: enciphers and deciphers like quarvel, and writes the key
// characters of the run to the additive-series and all-additive files.
#include "run/dispatch.h"

int main(int argc, char** argv) {
  return quarvel::ProgramMain(argc, argv, quarvel::Program::QuarvelKeys);
}
