// The command line of a run.
#pragma once

#include <string>

namespace quarvel {

inline constexpr std::size_t kIdentifierLength = 22;

// Which program runs: quarvel_keys also writes the two key series files.
enum class Program { Quarvel, QuarvelKeys };

struct RunParameters {
  std::string Identifier;  // parameter 2, cut to 22 characters; no run reads it
  // File names are taken whole: a cut name would open another file.
  std::string PlainTextName;       // parameter 5
  std::string CipherTextName;      // parameter 4
  std::string KeyFileName;         // parameter 3
  std::string AdditiveSeriesName;  // parameter 6, quarvel_keys only
  std::string AllAdditiveName;     // parameter 7, quarvel_keys only
};

}  // namespace quarvel
