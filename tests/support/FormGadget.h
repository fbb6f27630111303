// A small component with a published property of every kind, for the form
// streaming tests.
#pragma once

#include <stdexcept>
#include <string>

#include "quorlink/core/Classes.h"
#include "quorlink/core/TypInfo.h"

namespace quorlink::testing {

enum TGadgetMode { gmOff, gmSlow, gmFast };
enum TGadgetOption { goRed, goGreen, goBlue };
using TGadgetOptions = TSet<TGadgetOption>;
using TPingEvent = TEvent<int>;
using TTextEvent = TEvent<const std::string&>;

class TGadget : public TComponent {
 public:
  using TComponent::TComponent;
  const char* ClassName() const override { return "TGadget"; }

  int Count = 0;  // -1000..1000
  std::string Title;
  TGadgetMode Mode = gmOff;
  TGadgetOptions Options;
  TPingEvent OnPing;
  TTextEvent OnText;
  // While locked, changing Title raises, as a setting of an open transport does.
  bool Locked = false;

  void SetTitle(const std::string& value) {
    if (value == Title) return;
    if (Locked) throw std::runtime_error("Gadget locked.");
    Title = value;
  }
  // Published, not stored: reports a constant and ignores writes.
  int GetSerial() const { return 4711; }

  void GetProperties(TPropList& list) const override {
    static const TTypeInfo countType{TTypeKind::tkInteger, "TCount", {}, -1000, 1000};
    static const TTypeInfo stringType{TTypeKind::tkString, "string", {}, 0, 0};
    static const TTypeInfo modeType{
        TTypeKind::tkEnumeration, "TGadgetMode", {"gmOff", "gmSlow", "gmFast"}, 0, 2};
    static const TTypeInfo optionsType{
        TTypeKind::tkSet, "TGadgetOptions", {"goRed", "goGreen", "goBlue"}, 0, 7};
    static const TTypeInfo serialType{TTypeKind::tkInteger, "Integer", {}, INT32_MIN, INT32_MAX};
    static const TTypeInfo pingType{TTypeKind::tkMethod, "TPingEvent", {}, 0, 0};
    static const TTypeInfo textType{TTypeKind::tkMethod, "TTextEvent", {}, 0, 0};
    TComponent::GetProperties(list);

    TPropInfo count{"Count", &countType, true, {}, {}, {}, {}, {}, {}};
    count.GetOrd = [](const TComponent& c) { return std::int64_t{Self(c).Count}; };
    count.SetOrd = [](TComponent& c, std::int64_t v) { Self(c).Count = static_cast<int>(v); };
    list.push_back(std::move(count));
    TPropInfo title{"Title", &stringType, true, {}, {}, {}, {}, {}, {}};
    title.GetStr = [](const TComponent& c) { return Self(c).Title; };
    title.SetStr = [](TComponent& c, const std::string& v) { Self(c).SetTitle(v); };
    list.push_back(std::move(title));
    TPropInfo mode{"Mode", &modeType, true, {}, {}, {}, {}, {}, {}};
    mode.GetOrd = [](const TComponent& c) { return std::int64_t{Self(c).Mode}; };
    mode.SetOrd = [](TComponent& c, std::int64_t v) { Self(c).Mode = TGadgetMode(v); };
    list.push_back(std::move(mode));
    TPropInfo options{"Options", &optionsType, true, {}, {}, {}, {}, {}, {}};
    options.GetOrd = [](const TComponent& c) { return std::int64_t{Self(c).Options.Bits()}; };
    options.SetOrd = [](TComponent& c, std::int64_t v) {
      Self(c).Options = TGadgetOptions::FromBits(static_cast<std::uint8_t>(v));
    };
    list.push_back(std::move(options));
    TPropInfo serial{"Serial", &serialType, false, {}, {}, {}, {}, {}, {}};
    serial.GetOrd = [](const TComponent& c) { return std::int64_t{Self(c).GetSerial()}; };
    serial.SetOrd = [](TComponent&, std::int64_t) {};
    list.push_back(std::move(serial));
    list.push_back(Event<TPingEvent, &TGadget::OnPing>("OnPing", &pingType));
    list.push_back(Event<TTextEvent, &TGadget::OnText>("OnText", &textType));
  }

 private:
  static TGadget& Self(TComponent& c) { return static_cast<TGadget&>(c); }
  static const TGadget& Self(const TComponent& c) { return static_cast<const TGadget&>(c); }

  template <class E, E TGadget::*Slot>
  static TPropInfo Event(const char* name, const TTypeInfo* type) {
    TPropInfo p{name, type, true, {}, {}, {}, {}, {}, {}};
    p.GetMethodName = [](const TComponent& c) { return (Self(c).*Slot).Name(); };
    p.SetMethod = [](TComponent& c, const std::string& method, const TMethodTable& table) {
      const E* handler = table.Find<E>(method);
      if (handler != nullptr) Self(c).*Slot = *handler;
      return handler != nullptr;
    };
    p.GetMethodValue = [](const TComponent& c) { return std::any(Self(c).*Slot); };
    p.SetMethodValue = [](TComponent& c, const std::any& v) {
      Self(c).*Slot = std::any_cast<const E&>(v);
    };
    return p;
  }
};

}  // namespace quorlink::testing
