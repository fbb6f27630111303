// Writing and reading a stored form of a component that owns many others:
// prints the form's size and the time per write and per read.
#include <chrono>
#include <cstdio>
#include <string>

#include "core/FormStream.h"
#include "tests/support/FormGadget.h"

using quorlink::testing::TGadget;
using quorlink::testing::TPingEvent;

int main(int argc, char** argv) {
  const int owned = argc > 1 ? std::stoi(argv[1]) : 200;
  const int rounds = argc > 2 ? std::stoi(argv[2]) : 200;
  quorlink::TMethodTable methods;
  methods.Add<TPingEvent>("Ping", [](int) {});

  TGadget root(nullptr);
  root.SetName("Root");
  for (int i = 0; i < owned; ++i) {
    auto* g = new TGadget(&root);
    g->SetName("Gadget" + std::to_string(i));
    g->Count = i % 1000;
    g->Title = "Gadget number " + std::to_string(i) + " with 'quotes'\r\n";
    g->Mode = quorlink::testing::gmFast;
    g->Options = {quorlink::testing::goRed, quorlink::testing::goBlue};
    g->OnPing = *methods.Find<TPingEvent>("Ping");
  }

  using Clock = std::chrono::steady_clock;
  std::string form;
  auto start = Clock::now();
  for (int r = 0; r < rounds; ++r) form = quorlink::WriteForm(root);
  auto written = Clock::now();
  for (int r = 0; r < rounds; ++r) quorlink::ReadForm(root, form, methods);
  auto read = Clock::now();

  auto perRound = [&](Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count() / rounds;
  };
  std::printf("components %d, form %zu bytes, %d rounds\n", owned + 1, form.size(), rounds);
  std::printf("write %.1f us per form, read %.1f us per form\n", perRound(written - start),
              perRound(read - written));
  return 0;
}
