// A fresh design registry with the library registered, as a designer has it
// after loading the library, and the way a designer makes editors.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "quorlink/core/Classes.h"
#include "quorlink/design/DesignRegistry.h"
#include "quorlink/design/QuorReg.h"

namespace quorlink::testing {

class DesignFixture : public ::testing::Test {
 protected:
  DesignFixture() : previous_(SetDesignRegistry(&registry)) { Register(); }
  ~DesignFixture() override { SetDesignRegistry(previous_); }

  static std::unique_ptr<TPropertyEditor> EditorFor(std::vector<TComponent*> selection,
                                                    const std::string& property) {
    return MakePropertyEditor(selection, property);
  }
  static std::string Raised(const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "(nothing raised)";
  }

  TDesignRegistry registry;

 private:
  TDesignRegistry* previous_;
};

}  // namespace quorlink::testing
