/// @file
/// Published-property descriptors: what form streaming and the design-time
/// editors read and write. Values travel as ordinals or as text.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "quorlink/core/Export.h"

namespace quorlink {

class TComponent;

/// The kinds of published property.
enum class TTypeKind { tkInteger, tkString, tkEnumeration, tkSet, tkMethod };

/// The type of a published property, as the designer and forms see it.
struct TTypeInfo {
  TTypeKind Kind;    ///< what kind of value
  std::string Name;  ///< the type's name ("Word", "TQuorBaudRate")
  /// Enumerations, and the element enumeration of a set: names by ordinal.
  std::vector<std::string> EnumNames;
  std::int64_t MinValue = 0;  ///< integers
  std::int64_t MaxValue = 0;  ///< integers
};

/// An event handler slot: a callable and, when it was bound by name (as a
/// form binds a method), that name, so that a stored form can name it again.
template <class... Args>
class TEvent {
 public:
  ///@{
  /// No handler.
  TEvent() = default;
  TEvent(std::nullptr_t) {}
  ///@}
  /// A handler: any callable with the event's arguments, and optionally the
  /// method name a form stores.
  template <class F, class = std::enable_if_t<std::is_invocable_v<F&, Args...> &&
                                              !std::is_same_v<std::decay_t<F>, TEvent>>>
  TEvent(F f, std::string name = {}) : name_(std::move(name)) {
    std::function<void(Args...)> fn(std::move(f));
    if (fn) fn_ = std::make_shared<const std::function<void(Args...)>>(std::move(fn));
  }

  /// True when a handler is bound.
  explicit operator bool() const { return fn_ != nullptr; }
  /// The call holds its own reference: a handler may rebind or clear the very
  /// event that is running it.
  void operator()(Args... args) const {
    if (auto fn = fn_) (*fn)(std::forward<Args>(args)...);
  }
  /// The method name, or empty.
  const std::string& Name() const { return name_; }

 private:
  std::shared_ptr<const std::function<void(Args...)>> fn_;
  std::string name_;
};

/// The methods a form may bind its events to, by name (what a form's class
/// declares in its published section).
class QUORLINK_API TMethodTable {
 public:
  /// Adds (or replaces) a method of the event type Event.
  template <class Event, class F>
  void Add(const std::string& name, F handler) {
    entries_.insert_or_assign(name, std::any(Event(std::move(handler), name)));
  }
  /// Null when there is no method of that name and event type.
  template <class Event>
  const Event* Find(const std::string& name) const {
    auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : std::any_cast<Event>(&it->second);
  }
  /// The method of that name whatever its event type (an Event in the any).
  const std::any* FindAny(const std::string& name) const {
    auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : &it->second;
  }

 private:
  std::map<std::string, std::any> entries_;
};

/// One published property: its name, type, whether forms store it, and
/// how to read and write it.
struct TPropInfo {
  std::string Name;       ///< as forms and the designer name it
  const TTypeInfo* Type;  ///< its type
  bool Stored;            ///< false for read-only constants (About, Version)
  /// Integers, enumerations (ordinal) and sets (bit mask).
  ///@{
  std::function<std::int64_t(const TComponent&)> GetOrd;
  std::function<void(TComponent&, std::int64_t)> SetOrd;
  ///@}
  ///@{
  /// Strings.
  std::function<std::string(const TComponent&)> GetStr;
  std::function<void(TComponent&, const std::string&)> SetStr;
  ///@}
  ///@{
  /// Events: the bound method's name (empty when none or unnamed), and binding
  /// by name through a method table; false when the table has no such method.
  std::function<std::string(const TComponent&)> GetMethodName;
  std::function<bool(TComponent&, const std::string&, const TMethodTable&)> SetMethod;
  ///@}
  ///@{
  /// Events as values (the Event itself in an any), so that a form reader can
  /// check a method's type before binding and put back what was there.
  std::function<std::any(const TComponent&)> GetMethodValue = {};
  std::function<void(TComponent&, const std::any&)> SetMethodValue = {};
  ///@}
  /// A Stored property is written only when this says so (none: always).
  std::function<bool(const TComponent&)> IsStored = {};
};

/// The published properties of a component, base class first.
using TPropList = std::vector<TPropInfo>;

}  // namespace quorlink
