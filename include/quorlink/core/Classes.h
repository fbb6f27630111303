/// @file
/// The root object, components with owners, and the owning object list.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "quorlink/core/Export.h"
#include "quorlink/core/SysUtils.h"
#include "quorlink/core/TypInfo.h"
#include "quorlink/platform/Messages.h"

namespace quorlink {

/// The root of the library's classes: message dispatch, the two-step
/// destruction of Free, and the class name.
class QUORLINK_API TObject {
 public:
  virtual ~TObject() = default;

  /// Runs the handler the class (or a base class) declares for the message
  /// number; classes override Dispatch, handle their numbers and pass the rest
  /// to the base. Messages without a handler reach DefaultHandler.
  virtual void Dispatch(TMessage& message) { DefaultHandler(message); }
  /// Receives the messages no class handles; does nothing here.
  virtual void DefaultHandler(TMessage&) {}
  /// Runs before the destructor when the object is freed with Free: the place
  /// for work that needs the whole object (virtual calls), and that may raise.
  virtual void BeforeDestruction() {}
  /// The class's name, as forms store it ("TQuorComPort").
  virtual const char* ClassName() const { return "TObject"; }
};

/// The application's hook for exceptions that escape event handlers; it is
/// called inside the handler's catch block (std::current_exception() gives the
/// exception) and may be empty. Main thread only.
extern QUORLINK_API std::function<void(TObject* sender)> ApplicationHandleException;
/// Passes the exception being handled to ApplicationHandleException, or drops
/// it when the hook is empty or raises itself. Call only inside a catch block.
QUORLINK_API void HandleException(TObject* sender) noexcept;

/// Destroys an object the way the host does: BeforeDestruction, then delete.
/// The object is deleted even when BeforeDestruction raises; the exception
/// then passes on.
QUORLINK_API void Free(TObject* object);

/// A component: owned by another (or by nobody), owning others, with a
/// name, a tag and published properties. Destroying a component destroys
/// what it owns.
class QUORLINK_API TComponent : public TObject {
 public:
  /// Joins the owner's components when `owner` is not null.
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  const char* ClassName() const override { return "TComponent"; }
  ///@{
  /// The owner, and the components owned, in the order they were made.
  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const;
  ///@}
  /// By name, without regard to (ASCII) case; an index keeps this constant
  /// time, so that making many named components stays linear.
  TComponent* FindComponent(const std::string& name) const;

  /// The component's name.
  const std::string& Name() const { return name_; }
  /// An identifier (or empty), unique among the owner's components.
  void SetName(const std::string& name);
  ///@{
  /// A value of the program's own; the library never reads it.
  std::intptr_t Tag() const { return tag_; }
  void SetTag(std::intptr_t tag) { tag_ = tag; }
  ///@}

  /// The published properties, base class first, in declaration order.
  virtual void GetProperties(TPropList& list) const;
  /// The list GetProperties fills.
  TPropList Properties() const;

 private:
  void DestroyComponents();
  static std::string NameKey(std::string_view name);

  TComponent* owner_;
  std::vector<TComponent*> components_;
  /// The named entries of components_, by NameKey of their name.
  std::unordered_map<std::string, TComponent*> names_;
  std::string name_;
  std::intptr_t tag_ = 0;
};

/// An owning list: deleting an entry first takes it out of the list, then
/// frees the object. Safe against the freed object changing the list.
template <class T>
class TObjectList {
 public:
  TObjectList() = default;
  ~TObjectList() {
    while (!items_.empty()) {
      try {
        Delete(0);
      } catch (...) {
        HandleException(nullptr);
      }
    }
  }
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;
  ///@{
  /// Adding (returns the index), counting, reading (an index outside the
  /// list raises EListError), finding (-1 when absent) and deleting, which
  /// frees the entry.
  int Add(T* item) {
    items_.push_back(item);
    return static_cast<int>(items_.size()) - 1;
  }
  int Count() const { return static_cast<int>(items_.size()); }
  T* Items(int index) const {
    CheckIndex(index);
    return items_[static_cast<std::size_t>(index)];
  }
  T* operator[](int index) const { return Items(index); }
  int IndexOf(const T* item) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i] == item) return static_cast<int>(i);
    return -1;
  }
  void Delete(int index) {
    CheckIndex(index);
    T* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    Free(item);
  }
  ///@}
  /// Deletes entry by entry; what a freed entry does to the list (closing
  /// others, even clearing it) is taken into account.
  void Clear() {
    while (!items_.empty()) Delete(0);
  }

 private:
  void CheckIndex(int index) const {
    if (index < 0 || index >= Count())
      throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  /// A deque, so that deleting from the front (Clear, a transport's Close)
  /// stays linear over the whole list.
  std::deque<T*> items_;
};

/// A set of up to eight enumeration values, held in one byte.
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  /// The set of the values given.
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }
  ///@{
  /// The set as one byte, bit n for the value n.
  static constexpr TSet FromBits(std::uint8_t bits) {
    TSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr std::uint8_t Bits() const { return bits_; }
  ///@}
  /// True when the value is in the set.
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  /// Equal sets.
  friend constexpr bool operator==(TSet, TSet) = default;

 private:
  static constexpr std::uint8_t Bit(E v) {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(v));
  }
  std::uint8_t bits_ = 0;
};

}  // namespace quorlink
