// Writing and reading a stored form of a component that owns many others:
// prints the form's size and the time per write and per read.
//   FormStreamBench [owned [rounds]]       time writes and reads in memory
//   FormStreamBench --save owned PATH      store that form in a file
//   FormStreamBench --load PATH [fresh]    read a stored form once (into the
//                                          tree that wrote it, or with
//                                          "fresh" into an empty root), for
//                                          measuring peak memory from outside
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "quorlink/core/FormStream.h"
#include "tests/support/FormGadget.h"

using quorlink::testing::TGadget;
using quorlink::testing::TPingEvent;

namespace {

std::unique_ptr<TGadget> MakeTree(int owned, const quorlink::TMethodTable& methods) {
  auto root = std::make_unique<TGadget>(nullptr);
  root->SetName("Root");
  for (int i = 0; i < owned; ++i) {
    auto* g = new TGadget(root.get());
    g->SetName("Gadget" + std::to_string(i));
    g->Count = i % 1000;
    g->Title = "Gadget number " + std::to_string(i) + " with 'quotes'\r\n";
    g->Mode = quorlink::testing::gmFast;
    g->Options = {quorlink::testing::goRed, quorlink::testing::goBlue};
    g->OnPing = *methods.Find<TPingEvent>("Ping");
  }
  return root;
}

int Load(const char* path, bool fresh, const quorlink::TMethodTable& methods) {
  std::ifstream in(path, std::ios::binary);
  std::string form((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::unique_ptr<TGadget> root;
  if (fresh) {
    root = std::make_unique<TGadget>(nullptr);
  } else {
    // The tree that wrote it, made without reading, so the read changes nothing.
    int owned = 0;
    for (std::size_t at = form.find("\n  object "); at != std::string::npos;
         at = form.find("\n  object ", at + 1))
      ++owned;
    root = MakeTree(owned, methods);
  }
  quorlink::RegisterClass<TGadget>("TGadget");
  try {
    quorlink::ReadForm(*root, form, methods);
  } catch (const std::exception& e) {
    std::printf("form %zu bytes: failed: %.200s\n", form.size(), e.what());
    return 1;
  }
  std::printf("form %zu bytes: read, root owns %d\n", form.size(), root->ComponentCount());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  quorlink::TMethodTable methods;
  methods.Add<TPingEvent>("Ping", [](int) {});
  if (argc > 3 && std::strcmp(argv[1], "--save") == 0) {
    std::ofstream(argv[3], std::ios::binary)
        << quorlink::WriteForm(*MakeTree(std::stoi(argv[2]), methods));
    return 0;
  }
  if (argc > 2 && std::strcmp(argv[1], "--load") == 0)
    return Load(argv[2], argc > 3 && std::strcmp(argv[3], "fresh") == 0, methods);

  const int owned = argc > 1 ? std::stoi(argv[1]) : 200;
  const int rounds = argc > 2 ? std::stoi(argv[2]) : 200;
  std::unique_ptr<TGadget> root = MakeTree(owned, methods);

  using Clock = std::chrono::steady_clock;
  std::string form;
  auto start = Clock::now();
  for (int r = 0; r < rounds; ++r) form = quorlink::WriteForm(*root);
  auto written = Clock::now();
  for (int r = 0; r < rounds; ++r) quorlink::ReadForm(*root, form, methods);
  auto read = Clock::now();

  auto perRound = [&](Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count() / rounds;
  };
  std::printf("components %d, form %zu bytes, %d rounds\n", owned + 1, form.size(), rounds);
  std::printf("write %.1f us per form, read %.1f us per form\n", perRound(written - start),
              perRound(read - written));
  return 0;
}
