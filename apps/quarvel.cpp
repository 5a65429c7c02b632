// quarvel: enciphers (C) and deciphers (D) teleprinter messages.
#include "run/dispatch.h"

int main(int argc, char** argv) {
  return quarvel::ProgramMain(argc, argv, quarvel::Program::Quarvel);
}
