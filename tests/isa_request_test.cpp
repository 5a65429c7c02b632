// QUARVEL_ISA that cannot be honoured: one warning on standard error that
// names the variable, the request and the tier that runs; the run is the
// same as without the variable.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "isa/isa.h"
#include "tests/process_runner.h"
#include "tests/run_fixtures.h"

namespace quarvel::testing {
namespace {

TEST(IsaRequest, AnswerNamesWhyARequestIsNotHonoured) {
  struct Case {
    const char* Request;
    Isa Best;
    IsaAnswer Expected;
  };
  const Case cases[] = {
      {nullptr, Isa::Avx512, IsaAnswer::NoRequest},
      {"", Isa::Avx2, IsaAnswer::NoRequest},
      {"portable", Isa::Portable, IsaAnswer::Honoured},
      {"avx2", Isa::Avx512, IsaAnswer::Honoured},
      {"avx512", Isa::Avx512, IsaAnswer::Honoured},
      {"avx512", Isa::Avx2, IsaAnswer::NotOffered},
      {"avx2", Isa::Portable, IsaAnswer::NotOffered},
      {"AVX2", Isa::Avx512, IsaAnswer::UnknownName},
      {"sse", Isa::Avx2, IsaAnswer::UnknownName},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnswerTo(c.Request, c.Best), c.Expected)
        << (c.Request ? c.Request : "(none)") << " with best " << IsaName(c.Best);
  }
}

struct Outcome {
  ProcessResult Result;
  std::string Target;
};

Outcome EncipherWith(const std::string& request) {
  TempDir dir;
  PutExampleKey(dir);
  WriteFile(dir.File("s.txt"), ReadFile(SourceDir() + "/examples/message.txt"));
  ProcessOptions options;
  options.Stdin = "\n";
  options.WorkDir = dir.Path();
  options.Environment = {"QUARVEL_ISA=" + request};
  Outcome outcome;
  outcome.Result =
      RunProcess(QuarvelPath(), RunArgs(false, 'C', "key.txt", "s.txt", "t.cip"), options);
  outcome.Target = ReadFile(dir.File("t.cip"));
  return outcome;
}

TEST(IsaRequest, NotHonouredIsOneWarningAndChangesNoOutput) {
  const Outcome plain = EncipherWith("");
  ASSERT_EQ(plain.Result.ExitStatus, 0);
  EXPECT_EQ(plain.Result.Err, "");
  const std::string best = IsaName(BestIsa());
  std::vector<std::pair<std::string, std::string>> cases = {
      {"sse", "warning: QUARVEL_ISA=sse names no tier (portable, avx2, avx512); the " + best +
                  " tier runs"},
  };
  if (BestIsa() < Isa::Avx512) {
    cases.push_back({"avx512",
                     "warning: QUARVEL_ISA=avx512 asks for a tier this processor does not "
                     "offer; the " +
                         best + " tier runs"});
  }
  for (const auto& [request, warning] : cases) {
    SCOPED_TRACE(request);
    const Outcome run = EncipherWith(request);
    EXPECT_EQ(run.Result.ExitStatus, 0);
    EXPECT_EQ(run.Result.Out, plain.Result.Out);
    EXPECT_EQ(run.Target, plain.Target);
    EXPECT_EQ(run.Result.Err, Diagnostics(false, {warning}));
  }
  // A tier the processor offers is honoured without a word.
  EXPECT_EQ(EncipherWith("portable").Result.Err, "");
}

}  // namespace
}  // namespace quarvel::testing
